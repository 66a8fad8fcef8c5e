// Posted calls: a member function of an object, with one untyped data pointer, queued from any
// thread to run later on the main thread when the main frame's 100 ms timer calls
// TBasePostExecute::BeatTimer().
//
// Lifetime: an object takes its pending calls with it when it is destroyed, so no posted call
// ever reaches a dead object. Destroy such objects on the main thread (the thread that drains),
// or at least never while one of their own posted calls is running.
#pragma once

#include "foundation/Threads.h"
#include "foundation/Vectors.h"

#include <cassert>
#include <type_traits>

class TBasePostExecute;

// A member function that can be posted: takes the data pointer, returns nothing.
using TFuncPostExecute = void (TBasePostExecute::*)(void* data);

// One posted call. The queue owns the item; the target and the data are not owned.
struct TItemPostExec {
    virtual ~TItemPostExec() = default;
    virtual void Ejecuta() = 0; // calls the function on the target with the data

    TBasePostExecute* objeto = nullptr;
    void* data = nullptr;
    double due = 0; // GetTickCount64() milliseconds; 0: due at once
};

// The call of a member function of T (a TBasePostExecute subclass), kept with its own type so
// that functions of derived classes, virtual ones too, are called exactly as named.
template <class T> struct TItemPostExecT : TItemPostExec {
    TItemPostExecT(T* t, void (T::*f)(void*)) : destino(t), func(f) {}
    void Ejecuta() override { (destino->*func)(data); }
    T* destino;
    void (T::*func)(void*);
};

// The queue of posted calls, in posting order. Push and Pop hold its lock for the list operation
// alone, so a posted call runs without it and may post again.
class TColaPostExecute {
public:
    TColaPostExecute() = default;
    TColaPostExecute(const TColaPostExecute&) = delete;
    TColaPostExecute& operator=(const TColaPostExecute&) = delete;

    void Push(TItemPostExec* item); // takes ownership
    // Removes and returns the first item that is due (caller owns it), or null.
    TItemPostExec* Pop();
    // Deletes every pending item aimed at objeto; returns how many.
    int Elimina(TBasePostExecute* objeto);
    int Numero();

private:
    TCriticalSectionITV lock_;
    VectorP<TItemPostExec> items_{10, 10, true};
};

// Base of every class whose member functions can be posted.
class TBasePostExecute {
public:
    TBasePostExecute() = default;
    TBasePostExecute(const TBasePostExecute&) {} // a copy has no pending calls
    TBasePostExecute& operator=(const TBasePostExecute&) { return *this; }
    // Drops this object's pending calls.
    virtual ~TBasePostExecute();

    // Queues func(data) on this object, due after delay_ms (<= 0: at the next beat). Any thread.
    // func is a member function of this object's class or of one of its bases.
    template <class T> void PostExecuteF(void (T::*func)(void*), void* data = nullptr, int delay_ms = 0) {
        static_assert(std::is_base_of<TBasePostExecute, T>::value,
                      "posted functions belong to a TBasePostExecute");
        if (!func) return;
        assert(dynamic_cast<T*>(this) == static_cast<T*>(this));
        Encola(new TItemPostExecT<T>(static_cast<T*>(this), func), data, delay_ms);
    }

    // Runs every posted call that is due, in posting order, including calls posted meanwhile.
    // Main thread only: called by the main frame's timer (and by tests).
    static void BeatTimer();
    // Pending posted calls of the whole process.
    static int PendingCalls();
    // The process-wide queue (made on first use, kept until the process ends).
    static TColaPostExecute& Cola();

private:
    void Encola(TItemPostExec* item, void* data, int delay_ms);
};
