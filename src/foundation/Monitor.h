// Progress monitor: the one channel between a long operation (the worker) and the window that
// shows it. The worker advances the counters and writes the detail text; the window thread reads
// Porcentaje() and Texto_Proceso() on its timer and requests a stop with Cancelar(); the worker
// notices at its next Incre()/HayStop().
//
// Threads: counters and flags are atomics; the texts, the caption stack, the parent/child links
// and the cancel hooks of one tree of monitors (a root and the children attached under it) are
// guarded by one small lock per tree, so any thread may read, cancel, attach or detach at any
// time. A parent must outlive its children.
#pragma once

#include "foundation/DString.h"
#include "foundation/Vectors.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

class TMonitorProc;

// The detail text of a monitor. Every access takes the monitor's tree lock, so the window may
// read it while the worker replaces it.
class DStringMPcs {
public:
    DStringMPcs(const DStringMPcs&) = delete;
    DStringMPcs& operator=(const DStringMPcs& o) { return *this = o.Get(); }
    DStringMPcs& operator=(const char* s);
    DStringMPcs& operator=(const CDString& s);
    DStringMPcs& operator+=(const char* s);
    DStringMPcs& operator+=(const CDString& s) { return *this += s.c_str(); }
    DStringMPcs& operator+=(int v);
    DStringMPcs& operator<<(const char* s) { return *this += s; }
    DStringMPcs& operator<<(const CDString& s) { return *this += s.c_str(); }
    DStringMPcs& operator<<(int v) { return *this += v; }
    // Truncates to empty, keeping the storage.
    void Vacia();
    char operator[](int n) const;
    DString Get() const;
    operator DString() const { return Get(); }
    bool IsEmpty() const;
    int Length() const;

private:
    friend class TMonitorProc;
    explicit DStringMPcs(TMonitorProc* owner) : owner_(owner) {}
    TMonitorProc* owner_;
    DString texto_;
};

// Progress (position, total, texts) and stop request of one long operation. Every long
// operation takes a TMonitorProc*, which may be null (no reporting, no cancellation); the Mon...
// functions below accept null.
class TMonitorProc {
public:
    enum : int32_t { kValidityMark = 0xABCE };
    using FuncCancel = void (*)(void* context);

    TMonitorProc();
    virtual ~TMonitorProc();
    TMonitorProc(const TMonitorProc&) = delete;
    TMonitorProc& operator=(const TMonitorProc&) = delete;

    std::atomic<int64_t> npasos{-1}; // position: steps done; -1 until Start
    std::atomic<int64_t> total{10};
    std::atomic<bool> stop{false}; // stop requested (written by Cancelar, read by the worker)
    DStringMPcs texto{this};       // the current detail text
    std::atomic<bool> fin_{false}; // the operation has ended (set by its runner)

    // total <- total_steps, position <- 0, and a stop request made earlier is cleared.
    void Start(int64_t total_steps);
    // Advances the position (raising the total past it unless keep_total). Returns true to go on:
    // false once any monitor from this one up to the root has a stop request.
    bool Incre(int64_t steps = 1, bool keep_total = false);
    bool iSetnpasos(int64_t position);
    bool HayStop() const;
    // Sets the stop request on this monitor and every child below it, running each one's cancel
    // hook (under the tree lock, on the calling thread: a hook must not wait for the worker).
    void Cancelar();
    // 0..100, the attached child's share included.
    float Porcentaje() const;
    // The caption stack, the detail text and (include_child) the child's text. mode 0: the first
    // line; 2: the last; 3: the '@' title, else the last; other: all joined with "\n".
    DString Texto_Proceso(bool include_child = true, int mode = 1) const;
    // Saves the detail text on the caption stack and empties it / restores the last saved one.
    void PushTextos();
    void PopTextos();
    int NumTextos() const; // entries on the caption stack
    bool VersionFuncCancel() const { return validez_ == kValidityMark; }
    void SetFuncCancel(FuncCancel func, void* context);
    // Refresh notification; a child forwards it to its parent.
    virtual void Actu() {}
    // Hook called by code that waits on behalf of this operation; does nothing here.
    void Sleep(int ms, int unused1 = 0, bool unused2 = false) {}

    TMonitorProc* GetParent() const;
    TMonitorProc* GetChild() const;
    int64_t GetPeso() const { return peso_; }

protected:
    TMonitorProc* parent_ = nullptr;              // guarded by the tree lock
    TMonitorProc* child_ = nullptr;               // guarded by the tree lock
    int64_t peso_ = 0;                            // parent steps this child's whole run stands for
    std::shared_ptr<std::recursive_mutex> arbol_; // the lock of this monitor's tree

private:
    friend class DStringMPcs;
    friend class TMonitorProcHijo;
    std::recursive_mutex& Lock() const { return *arbol_; }
    bool HayStopLocked() const;
    float PorcentajeLocked() const;
    void ComponeLocked(VectorS<DString>& lines, DString& title, bool& has_title, bool include_child) const;

    int32_t validez_ = kValidityMark;
    FuncCancel func_cancel_ = nullptr;
    void* context_cancel_ = nullptr;
    VectorS<DString>* textos_ = nullptr; // caption stack, oldest first; null when empty
};

// A monitor attached under a parent (which may be null), standing for `peso` of the parent's
// steps. It starts with the parent's stop request; on destruction it adds `peso` to the parent's
// position, detaches itself and passes its stop request up (a cancel is never cleared).
class TMonitorProcHijo : public TMonitorProc {
public:
    TMonitorProcHijo(TMonitorProc* parent, int64_t peso);
    void Actu() override;
};

// Scoped caption: inside the scope the window shows the outer texts, then
// "caption detail", then whatever detail the inner work writes. Restores the texts on exit.
class TPushMonitorText {
public:
    TPushMonitorText(TMonitorProc* monitor, const char* caption = "", const char* detail = "");
    ~TPushMonitorText();
    TPushMonitorText(const TPushMonitorText&) = delete;
    TPushMonitorText& operator=(const TPushMonitorText&) = delete;

private:
    int pushes_ = 1;
    TMonitorProc* monitor_;
};

// Null-safe forms: a null monitor does nothing, has no stop request, and Incre gives false.
inline void MonStart(TMonitorProc* m, int64_t total_steps) {
    if (m) m->Start(total_steps);
}
inline bool MonIncre(TMonitorProc* m, int64_t steps = 1, bool keep_total = false) {
    return m ? m->Incre(steps, keep_total) : false;
}
inline bool MonSetnpasos(TMonitorProc* m, int64_t position) {
    return m ? m->iSetnpasos(position) : false;
}
inline bool MonHayStop(const TMonitorProc* m) {
    return m ? m->HayStop() : false;
}
inline void MonCancelar(TMonitorProc* m) {
    if (m) m->Cancelar();
}
inline void MonSetTexto(TMonitorProc* m, const char* text) {
    if (m) m->texto = text;
}
inline void MonSetTexto(TMonitorProc* m, const CDString& text) {
    if (m) m->texto = text;
}
// Waits ms through the process clock (Sleep). Without a monitor it is one plain wait; with one,
// the wait runs in slices of at most slice_ms so that a stop request ends it early. Returns
// false when a stop request ended (or preceded) the wait. Any thread.
bool SleepOrStop(int ms, const TMonitorProc* m, int slice_ms = 100);
// Porcentaje() of the monitor; 0 for null.
inline float Porcentaje(const TMonitorProc* m) {
    return m ? m->Porcentaje() : 0.0f;
}
// Texto_Proceso() of the monitor; empty for null.
inline DString Texto_Proceso(const TMonitorProc* m, bool include_child = true, int mode = 1) {
    return m ? m->Texto_Proceso(include_child, mode) : DString();
}

// "<position>/<total>" for transfers, each "%.2f" of the size in its unit followed by the unit
// (" Kb", " Mb", " Gb", " Tb"), e.g. "1.50 Mb/10.00 Mb". A negative size counts as 0.
DString Text_Proceso_Smart_Size(int64_t position, int64_t total);
// The same for a monitor's position and total (empty for null).
void Text_Proceso_Smart_Size(const TMonitorProc* monitor, DString& out);
