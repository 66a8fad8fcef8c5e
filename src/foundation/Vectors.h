// The list templates of the program: growable arrays of slots, each slot a pointer to an element
// or empty. VectorS owns copies, VectorP holds objects made by the caller (deleted when the vector
// owns them), VectorPO keeps them ordered by name. An index outside the valid range is a
// programming error: a "VDGerr:" line in the common log and a TXErrorVectoresDG exception.
// Not thread-safe: a vector belongs to one thread at a time unless its owner locks it.
#pragma once

#include "foundation/DString.h"

#include <atomic>
#include <memory>
#include <stdexcept>
#include <type_traits>

// Thrown for every misuse of a vector; carries the report code (6..16). A programming error,
// caught only at the top of worker threads.
struct TXErrorVectoresDG : std::logic_error {
    explicit TXErrorVectoresDG(int c) : std::logic_error("TXErrorVectoresDG"), code(c) {}
    int code;
};

// Process-wide count of vector error reports; only the first 255 reach the log.
extern std::atomic<int> nerr_vectores_dg;

// Writes "VDGerr:<code>-<text>-tot:<count>,index:<index>,max:<capacity>,delta:<step> " to the
// common log (while the report count is at most 255), then throws TXErrorVectoresDG{code}.
[[noreturn]] void Error_Vectores_DG_x(int code, const char* text, int count, int index, int capacity,
                                      int step);

class VectorI {
public:
    VectorI(int capacity = 10, int step = 10, bool owns = true) { Init_VectorI(capacity, step, owns); }
    virtual ~VectorI();
    VectorI(const VectorI&) = delete;
    VectorI& operator=(const VectorI&) = delete;

    // Sets the state; allocates `capacity` empty slots when capacity > 0. Drops (without deleting)
    // whatever the vector held.
    void Init_VectorI(int capacity, int step, bool owns);
    // Makes room for n more slots and raises the count by n; the new slots are empty.
    void Incre_Numero(int n);
    // Removes slot `index` (after the base index), shifting later slots down; deletes the element
    // when owned. False (no change) for an index outside the slots in use.
    bool Elimina(int index);
    // Deletes the elements when asked (and owned), frees the slots, restores capacity and step.
    void Vacia(bool borrar = true);
    // Reallocates the slots to exactly the count (when below capacity or forced).
    void Compacta(bool force = false);
    // Sorts slots low..high (indices after the base index) with a three-way comparison.
    using CompareFn = int (*)(const void* a, const void* b, void* context);
    void QuickSortF(int low, int high, CompareFn compare, void* context);

    int Numero() const { return numero_; }
    int Count() const { return numero_; }
    bool IsEmpty() const { return numero_ == 0; }
    int Capacidad() const { return capacidad_; }
    int Step() const { return delta_; }
    int Base() const { return base_; }
    // The index that addresses the first slot (0 unless a caller numbers from elsewhere).
    void SetBase(int base) { base_ = base; }
    bool Owns() const { return owns_; }
    void SetOwns(bool owns) { owns_ = owns; }
    // The element at index, or null for an empty slot or an index outside the slots in use.
    void* Slot(int index) const;

protected:
    void*& operator_clave(int index);           // codes 7 (range) and 8 (empty slot)
    void* operator_claveC(int index) const;     // codes 9 (range) and 10 (empty slot)
    void*& RawSlot(int i) { return slots_[i]; } // i is a zero-based slot number
    void* RawSlot(int i) const { return slots_[i]; }
    void InsertSlot(int i, void* element); // shifts slots i.. up by one; i <= numero_
    void DeleteElement(void* e) {
        if (e && deleter_) deleter_(e);
    }
    void EnsureCapacity(int needed);

    using DeleterFn = void (*)(void*);
    DeleterFn deleter_ = nullptr;

    bool owns_ = true;
    int numero_ = 0;
    int capacidad_ = 0;
    int capacidad_inicial_ = 0;
    int delta_inicial_ = 0;
    int delta_ = 0;
    int base_ = 0;
    void** slots_ = nullptr;
};

// Owned copies of T.
template <class T> class VectorS : public VectorI {
public:
    VectorS(int capacity = 10, int step = 10, bool owns = true) : VectorI(capacity, step, owns) {
        deleter_ = &Delete;
    }
    VectorS(const VectorS& o) : VectorI(o.capacidad_inicial_, o.delta_inicial_, true) {
        deleter_ = &Delete;
        *this = o;
    }
    VectorS& operator=(const VectorS& o) {
        if (this == &o) return *this;
        Vacia(owns_);
        owns_ = true;
        base_ = o.base_;
        if (o.numero_ > 0) Incre_Numero(o.numero_);
        for (int i = 0; i < o.numero_; i++)
            if (o.RawSlot(i)) RawSlot(i) = new T(*static_cast<const T*>(o.RawSlot(i)));
        return *this;
    }

    T& operator[](int index) { return *static_cast<T*>(operator_clave(index)); }
    const T& operator[](int index) const { return *static_cast<const T*>(operator_claveC(index)); }
    T* Ptr(int index) const { return static_cast<T*>(Slot(index)); }

    // Copies value into a new element and returns its index: at the end (position < 0), at
    // position shifting later slots up, or beyond the count leaving empty slots in between.
    int Anyade(const T& value, int position = -1) {
        if (position >= 0 && position < base_)
            Error_Vectores_DG_x(12, "VectorS::Anyade", numero_, position, capacidad_, delta_);
        std::unique_ptr<T> e(new T(value));
        int index = Place(e.get(), position);
        e.release();
        return index;
    }
    // A default-made element appended; returns it.
    T& Anyade() { return Anyade_Pos(-1); }
    // A default-made element placed as Anyade(value, position) does; returns it.
    T& Anyade_Pos(int position) {
        if (position >= 0 && position < base_)
            Error_Vectores_DG_x(13, "VectorS::Anyade", numero_, position, capacidad_, delta_);
        std::unique_ptr<T> e(new T());
        Place(e.get(), position);
        return *e.release();
    }

private:
    static void Delete(void* p) { delete static_cast<T*>(p); }
    int Place(T* e, int position) {
        int slot = position < 0 ? numero_ : position - base_;
        if (slot < numero_) {
            InsertSlot(slot, e);
        } else {
            if (slot > numero_) Incre_Numero(slot - numero_);
            InsertSlot(numero_, e);
        }
        return slot + base_;
    }
};

// Objects made by the caller, held by pointer; deleted by the vector when it owns them.
template <class T> class VectorP : public VectorI {
public:
    VectorP(int capacity = 10, int step = 10, bool owns = true) : VectorI(capacity, step, owns) {
        deleter_ = &Delete;
    }

    T* operator[](int index) { return static_cast<T*>(operator_clave(index)); }
    const T* operator[](int index) const { return static_cast<const T*>(operator_claveC(index)); }
    T* Ptr(int index) const { return static_cast<T*>(Slot(index)); }

    // Stores the caller's pointer (the vector takes it over when it owns its elements): at the
    // end (position < 0), into an empty slot at position, shifting an occupied slot up, or beyond
    // the count after extending it. Returns the index. A null element raises code 16; an element
    // refused with an exception is deleted when the vector owns its elements.
    int Anyade(T* element, int position = -1) {
        try {
            return Place(element, position);
        } catch (...) {
            if (owns_) DeleteElement(element); // handed over, refused: not leaked
            throw;
        }
    }
    // A default-made element appended; returns it.
    T* Anyade() {
        T* e = new T();
        try {
            Anyade(e);
        } catch (...) {
            if (!owns_) delete e; // an owning vector has deleted it already
            throw;
        }
        return e;
    }
    // Takes the element out of its slot without deleting it (the slot is removed).
    T* Extrae(int index) {
        T* e = static_cast<T*>(operator_clave(index));
        bool owns = owns_;
        owns_ = false;
        Elimina(index);
        owns_ = owns;
        return e;
    }

private:
    static void Delete(void* p) { delete static_cast<T*>(p); }
    int Place(T* element, int position) {
        if (!element) Error_Vectores_DG_x(16, "VectorP::Anyade", numero_, position, capacidad_, delta_);
        if (position < 0) {
            InsertSlot(numero_, element);
            return numero_ - 1 + base_;
        }
        if (position < base_)
            Error_Vectores_DG_x(14, "VectorP::Anyade", numero_, position, capacidad_, delta_);
        int slot = position - base_;
        if (slot >= numero_) {
            Incre_Numero(slot + 1 - numero_);
            RawSlot(slot) = element;
        } else if (!RawSlot(slot)) {
            RawSlot(slot) = element;
        } else {
            InsertSlot(slot, element);
        }
        return position;
    }
};

// Name of an element of a VectorPO: the text itself for text types, else its Nombre().
template <class T, class = void> struct VectorPONameOf {
    static const char* Get(const T& e) { return e.Nombre().c_str(); }
};
template <class T> struct VectorPONameOf<T, std::enable_if_t<std::is_base_of<CDString, T>::value>> {
    static const char* Get(const T& e) { return e.c_str(); }
};

// A VectorP kept in byte order of the elements' names, for binary search.
template <class T, class NameOf = VectorPONameOf<T>> class VectorPO : public VectorP<T> {
public:
    using VectorP<T>::VectorP;

    // Sorts slots low..high (high < 0: to the last) by name. Empty slots sort last.
    void QuickSort(int low = 0, int high = -1) {
        if (high < 0) high = this->numero_ - 1 + this->base_;
        this->QuickSortF(low, high, &CompareByName, nullptr);
    }
    // Index of the element named like key, or -1. The vector must be sorted.
    int Busca_Numero_Dico(const char* key) const {
        int lo = 0, hi = this->numero_ - 1;
        while (lo <= hi) {
            int mid = lo + (hi - lo) / 2;
            const T* e = static_cast<const T*>(this->RawSlot(mid));
            int c = e ? Dstrcmp(NameOf::Get(*e), key) : 1;
            if (c == 0) return mid + this->base_;
            if (c < 0)
                lo = mid + 1;
            else
                hi = mid - 1;
        }
        return -1;
    }
    int Busca_Numero_Dico(const CDString& key) const { return Busca_Numero_Dico(key.c_str()); }
    // Inserts keeping the order by name (after equal names); returns the index.
    int AnyadeOrdenado(T* element) {
        int lo = 0, hi = this->numero_;
        const char* name = NameOf::Get(*element);
        while (lo < hi) {
            int mid = lo + (hi - lo) / 2;
            const T* e = static_cast<const T*>(this->RawSlot(mid));
            if (e && Dstrcmp(NameOf::Get(*e), name) <= 0)
                lo = mid + 1;
            else
                hi = mid;
        }
        if (lo < this->numero_) return VectorP<T>::Anyade(element, lo + this->base_);
        return VectorP<T>::Anyade(element);
    }

private:
    static int CompareByName(const void* a, const void* b, void*) {
        if (!a || !b) return a == b ? 0 : (a ? -1 : 1);
        return Dstrcmp(NameOf::Get(*static_cast<const T*>(a)), NameOf::Get(*static_cast<const T*>(b)));
    }
};
