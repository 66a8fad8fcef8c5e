#include "foundation/Monitor.h"
#include "foundation/Threads.h"

#include <algorithm>

using Guard = std::lock_guard<std::recursive_mutex>;

// ---------------------------------------------------------------------------------------------
// DStringMPcs

DStringMPcs& DStringMPcs::operator=(const char* s) {
    Guard g(owner_->Lock());
    texto_ = s;
    return *this;
}

DStringMPcs& DStringMPcs::operator=(const CDString& s) {
    Guard g(owner_->Lock());
    texto_ = s;
    return *this;
}

DStringMPcs& DStringMPcs::operator+=(const char* s) {
    Guard g(owner_->Lock());
    texto_ += s;
    return *this;
}

DStringMPcs& DStringMPcs::operator+=(int v) {
    Guard g(owner_->Lock());
    texto_ << v;
    return *this;
}

void DStringMPcs::Vacia() {
    Guard g(owner_->Lock());
    texto_.Vacia();
}

char DStringMPcs::operator[](int n) const {
    Guard g(owner_->Lock());
    return texto_[n];
}

DString DStringMPcs::Get() const {
    Guard g(owner_->Lock());
    return texto_;
}

bool DStringMPcs::IsEmpty() const {
    Guard g(owner_->Lock());
    return texto_.IsEmpty();
}

int DStringMPcs::Length() const {
    Guard g(owner_->Lock());
    return texto_.Length();
}

// ---------------------------------------------------------------------------------------------
// TMonitorProc

TMonitorProc::TMonitorProc() : arbol_(std::make_shared<std::recursive_mutex>()) {}

TMonitorProc::~TMonitorProc() {
    Guard g(Lock());
    delete textos_;
    textos_ = nullptr;
    if (parent_) {
        parent_->npasos.fetch_add(peso_, std::memory_order_relaxed);
        if (parent_->child_ == this) parent_->child_ = nullptr;
        // Pass a stop request up, never take one back.
        if (stop.load(std::memory_order_relaxed)) parent_->stop.store(true, std::memory_order_relaxed);
        parent_ = nullptr;
    }
    // A child that outlives this monitor (a misuse) is left as a root instead of pointing here.
    if (child_) {
        child_->parent_ = nullptr;
        child_ = nullptr;
    }
    validez_ = 0;
}

void TMonitorProc::Start(int64_t total_steps) {
    total.store(total_steps, std::memory_order_relaxed);
    npasos.store(0, std::memory_order_relaxed);
    stop.store(false, std::memory_order_relaxed);
}

bool TMonitorProc::Incre(int64_t steps, bool keep_total) {
    int64_t pos = npasos.fetch_add(steps, std::memory_order_relaxed) + steps;
    if (!keep_total && total.load(std::memory_order_relaxed) < pos)
        total.store(pos, std::memory_order_relaxed);
    return !HayStop();
}

bool TMonitorProc::iSetnpasos(int64_t position) {
    npasos.store(position, std::memory_order_relaxed);
    return !HayStop();
}

bool TMonitorProc::HayStop() const {
    Guard g(Lock());
    return HayStopLocked();
}

bool TMonitorProc::HayStopLocked() const {
    for (const TMonitorProc* m = this; m; m = m->parent_)
        if (m->stop.load(std::memory_order_relaxed)) return true;
    return false;
}

void TMonitorProc::Cancelar() {
    Guard g(Lock());
    for (TMonitorProc* m = this; m; m = m->child_) {
        m->stop.store(true, std::memory_order_relaxed);
        if (m->func_cancel_) m->func_cancel_(m->context_cancel_);
    }
}

void TMonitorProc::SetFuncCancel(FuncCancel func, void* context) {
    Guard g(Lock());
    func_cancel_ = func;
    context_cancel_ = context;
}

TMonitorProc* TMonitorProc::GetParent() const {
    Guard g(Lock());
    return parent_;
}

TMonitorProc* TMonitorProc::GetChild() const {
    Guard g(Lock());
    return child_;
}

float TMonitorProc::Porcentaje() const {
    Guard g(Lock());
    return PorcentajeLocked();
}

float TMonitorProc::PorcentajeLocked() const {
    int64_t tot = total.load(std::memory_order_relaxed);
    if (tot < 1) return 0.0f;
    float share = 0.0f;
    if (child_)
        share = static_cast<float>(child_->peso_) * std::max(0.0f, child_->PorcentajeLocked()) / 100.0f;
    float f = (static_cast<float>(npasos.load(std::memory_order_relaxed)) + share) / static_cast<float>(tot);
    f = std::min(1.0f, std::max(0.0f, f));
    return f * 100.0f;
}

void TMonitorProc::ComponeLocked(VectorS<DString>& lines, DString& title, bool& has_title,
                                 bool include_child) const {
    if (textos_) {
        for (int i = 0; i < textos_->Numero(); i++) {
            const DString* e = textos_->Ptr(i);
            if (!e) continue;
            DString t = *e;
            if (t[0] == '@') {
                t.SkipFirsts(1);
                title = t;
                has_title = true;
            }
            if (!t.IsEmpty()) lines.Anyade(t);
        }
    }
    lines.Anyade(texto.texto_);
    if (include_child && child_) {
        DString c = child_->Texto_Proceso(true, 1);
        if (!c.IsEmpty()) lines.Anyade(c);
    }
}

DString TMonitorProc::Texto_Proceso(bool include_child, int mode) const {
    VectorS<DString> lines(10, 10, true);
    DString title;
    bool has_title = false;
    {
        Guard g(Lock());
        ComponeLocked(lines, title, has_title, include_child);
    }
    int n = lines.Numero();
    switch (mode) {
    case 0:
        return lines[0];
    case 2:
        return lines[n - 1];
    case 3:
        return has_title ? title : lines[n - 1];
    default: {
        DString out;
        for (int i = 0; i < n; i++) {
            if (i > 0) out += "\n";
            out += lines[i];
        }
        return out;
    }
    }
}

void TMonitorProc::PushTextos() {
    Guard g(Lock());
    if (!textos_) textos_ = new VectorS<DString>(10, 10, true);
    textos_->Anyade(texto.texto_);
    texto.texto_.Vacia();
}

void TMonitorProc::PopTextos() {
    Guard g(Lock());
    if (!textos_ || textos_->Numero() == 0) return;
    int last = textos_->Numero() - 1;
    texto.texto_ = (*textos_)[last];
    textos_->Elimina(last);
    if (textos_->Numero() == 0) {
        delete textos_;
        textos_ = nullptr;
    }
}

int TMonitorProc::NumTextos() const {
    Guard g(Lock());
    return textos_ ? textos_->Numero() : 0;
}

// ---------------------------------------------------------------------------------------------
// TMonitorProcHijo

TMonitorProcHijo::TMonitorProcHijo(TMonitorProc* parent, int64_t peso) {
    peso_ = peso;
    if (!parent) return;
    arbol_ = parent->arbol_; // one lock for the whole tree
    Guard g(Lock());
    parent_ = parent;
    stop.store(parent->stop.load(std::memory_order_relaxed), std::memory_order_relaxed);
    parent->child_ = this;
}

void TMonitorProcHijo::Actu() {
    TMonitorProc* p = GetParent();
    if (p) p->Actu();
}

// ---------------------------------------------------------------------------------------------
// TPushMonitorText

TPushMonitorText::TPushMonitorText(TMonitorProc* monitor, const char* caption, const char* detail)
    : monitor_(monitor) {
    if (!monitor_) return;
    DString t = caption;
    DString d = detail;
    if (!t.IsEmpty() && !d.IsEmpty()) t += " ";
    t += d;
    if (!t.IsEmpty()) {
        pushes_ = 2;
        monitor_->PushTextos();
        monitor_->texto = t;
    }
    monitor_->PushTextos();
}

TPushMonitorText::~TPushMonitorText() {
    if (!monitor_) return;
    monitor_->PopTextos();
    if (pushes_ == 2) monitor_->PopTextos();
}

// ---------------------------------------------------------------------------------------------
// Size texts

namespace {
void AppendSmartSize(DString& out, int64_t v) {
    if (v < 0) v = 0;
    const int64_t kb = 1024, mb = kb << 10, gb = mb << 10, tb = gb << 10;
    double unit;
    const char* name;
    if (v >= tb + 1) {
        unit = static_cast<double>(tb);
        name = " Tb";
    } else if (v >= gb + 1) {
        unit = static_cast<double>(gb);
        name = " Gb";
    } else if (v < mb + 1) {
        unit = static_cast<double>(kb);
        name = " Kb";
    } else {
        unit = static_cast<double>(mb);
        name = " Mb";
    }
    DString part;
    part.Dsprintf("%.2f%s", static_cast<double>(v) / unit, name);
    out += part;
}
} // namespace

DString Text_Proceso_Smart_Size(int64_t position, int64_t total) {
    DString out;
    AppendSmartSize(out, position);
    out += "/";
    AppendSmartSize(out, total);
    return out;
}

void Text_Proceso_Smart_Size(const TMonitorProc* monitor, DString& out) {
    if (!monitor) {
        out = "";
        return;
    }
    out = Text_Proceso_Smart_Size(monitor->npasos.load(std::memory_order_relaxed),
                                  monitor->total.load(std::memory_order_relaxed));
}

bool SleepOrStop(int ms, const TMonitorProc* m, int slice_ms) {
    if (!m) {
        if (ms > 0) Sleep(ms);
        return true;
    }
    if (slice_ms < 1) slice_ms = 1;
    while (ms > 0) {
        if (m->HayStop()) return false;
        int slice = ms < slice_ms ? ms : slice_ms;
        Sleep(slice);
        ms -= slice;
    }
    return !m->HayStop();
}
