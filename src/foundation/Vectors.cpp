#include "foundation/Vectors.h"
#include "foundation/Registra.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

std::atomic<int> nerr_vectores_dg{0};

void Error_Vectores_DG_x(int code, const char* text, int count, int index, int capacity, int step) {
    if (nerr_vectores_dg.fetch_add(1) + 1 <= 255) {
        char line[512];
        std::snprintf(line, sizeof line, "VDGerr:%d-%s-tot:%d,index:%d,max:%d,delta:%d %s", code,
                      text ? text : "", count, index, capacity, step, "");
        RegistraComun(line);
    }
    throw TXErrorVectoresDG(code);
}

VectorI::~VectorI() {
    Vacia(owns_);
}

void VectorI::Init_VectorI(int capacity, int step, bool owns) {
    std::free(slots_);
    slots_ = nullptr;
    owns_ = owns;
    numero_ = 0;
    capacidad_ = std::max(capacity, 0);
    capacidad_inicial_ = capacidad_;
    delta_inicial_ = step;
    delta_ = step;
    base_ = 0;
    if (capacidad_ > 0) {
        slots_ = static_cast<void**>(std::calloc(static_cast<size_t>(capacidad_), sizeof(void*)));
        if (!slots_) {
            capacidad_ = 0;
            Error_Vectores_DG_x(15, "VectorI::Init_VectorI", numero_, 0, capacity, step);
        }
    }
}

void VectorI::EnsureCapacity(int needed) {
    if (slots_ && needed <= capacidad_) return;
    long long cap = capacidad_;
    if (!slots_ && needed <= cap) {
        // Emptied by Vacia: the initial slots come back first.
    } else if (delta_ == 0) {
        Error_Vectores_DG_x(6, "VectorI::Incre", numero_, needed - 1 + base_, capacidad_, delta_);
    } else if (delta_ > 0) {
        long long steps = (needed - cap + delta_ - 1) / delta_;
        cap += steps * delta_;
    } else {
        // A negative step doubles while it is smaller than the capacity: geometric growth.
        long long step = -static_cast<long long>(delta_);
        while (cap < needed) {
            while (step < cap && step < INT_MAX / 2)
                step *= 2;
            cap += step;
        }
        delta_ = static_cast<int>(-std::min<long long>(step, INT_MAX));
    }
    if (cap < needed) cap = needed;
    if (cap > INT_MAX / 2) cap = std::max<long long>(needed, INT_MAX / 2);
    auto* slots = static_cast<void**>(std::realloc(slots_, static_cast<size_t>(cap) * sizeof(void*)));
    if (!slots) Error_Vectores_DG_x(15, "VectorI::Incre", numero_, needed - 1 + base_, capacidad_, delta_);
    int old = slots_ ? capacidad_ : 0;
    std::memset(slots + old, 0, static_cast<size_t>(cap - old) * sizeof(void*));
    slots_ = slots;
    capacidad_ = static_cast<int>(cap);
}

void VectorI::Incre_Numero(int n) {
    if (n <= 0) return;
    EnsureCapacity(numero_ + n);
    std::memset(slots_ + numero_, 0, static_cast<size_t>(n) * sizeof(void*));
    numero_ += n;
}

void VectorI::InsertSlot(int i, void* element) {
    EnsureCapacity(numero_ + 1);
    std::memmove(slots_ + i + 1, slots_ + i, static_cast<size_t>(numero_ - i) * sizeof(void*));
    slots_[i] = element;
    numero_++;
}

void* VectorI::Slot(int index) const {
    int i = index - base_;
    return i >= 0 && i < numero_ ? slots_[i] : nullptr;
}

void*& VectorI::operator_clave(int index) {
    int i = index - base_;
    if (i < 0 || i >= numero_) Error_Vectores_DG_x(7, "operator[]", numero_, index, capacidad_, delta_);
    if (!slots_[i]) Error_Vectores_DG_x(8, "operator[]", numero_, index, capacidad_, delta_);
    return slots_[i];
}

void* VectorI::operator_claveC(int index) const {
    int i = index - base_;
    if (i < 0 || i >= numero_) Error_Vectores_DG_x(9, "operator[]C", numero_, index, capacidad_, delta_);
    if (!slots_[i]) Error_Vectores_DG_x(10, "operator[]C", numero_, index, capacidad_, delta_);
    return slots_[i];
}

bool VectorI::Elimina(int index) {
    int i = index - base_;
    if (i < 0 || i >= numero_) return false;
    void* e = slots_[i];
    std::memmove(slots_ + i, slots_ + i + 1, static_cast<size_t>(numero_ - i - 1) * sizeof(void*));
    numero_--;
    slots_[numero_] = nullptr;
    if (owns_) DeleteElement(e);
    return true;
}

void VectorI::Vacia(bool borrar) {
    if (slots_) {
        // Detach first: an element's destructor may look at this vector.
        void** slots = slots_;
        int n = numero_;
        slots_ = nullptr;
        numero_ = 0;
        if (borrar && owns_)
            for (int i = 0; i < n; i++)
                DeleteElement(slots[i]);
        std::free(slots);
    }
    numero_ = 0;
    capacidad_ = capacidad_inicial_;
    delta_ = delta_inicial_;
}

void VectorI::Compacta(bool force) {
    if (numero_ < capacidad_ || force) {
        if (numero_ == 0) {
            std::free(slots_);
            slots_ = nullptr;
        } else if (slots_) {
            auto* slots =
                static_cast<void**>(std::realloc(slots_, static_cast<size_t>(numero_) * sizeof(void*)));
            if (slots) slots_ = slots;
        }
        capacidad_ = numero_;
    }
    delta_ = delta_inicial_;
}

void VectorI::QuickSortF(int low, int high, CompareFn compare, void* context) {
    int lo = std::max(low - base_, 0), hi = std::min(high - base_, numero_ - 1);
    if (!compare || lo >= hi) return;
    std::sort(slots_ + lo, slots_ + hi + 1,
              [&](const void* a, const void* b) { return compare(a, b, context) < 0; });
}
