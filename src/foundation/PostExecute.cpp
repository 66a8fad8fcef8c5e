#include "foundation/PostExecute.h"

#include <memory>

namespace {
// peItems: made by the first post, never destroyed (objects with pending calls may be destroyed
// while the process ends, after every static object).
std::atomic<TColaPostExecute*> peItems{nullptr};

TColaPostExecute* ColaSiExiste() {
    return peItems.load(std::memory_order_acquire);
}
} // namespace

TColaPostExecute& TBasePostExecute::Cola() {
    static TColaPostExecute* cola = [] {
        auto* c = new TColaPostExecute;
        peItems.store(c, std::memory_order_release);
        return c;
    }();
    return *cola;
}

void TColaPostExecute::Push(TItemPostExec* item) {
    TCriticalSectionITVEntra g(lock_);
    items_.Anyade(item);
}

TItemPostExec* TColaPostExecute::Pop() {
    double now = static_cast<double>(GetTickCount64());
    TCriticalSectionITVEntra g(lock_);
    for (int i = 0; i < items_.Numero(); i++) {
        TItemPostExec* item = items_.Ptr(i);
        if (item && (item->due == 0 || item->due < now)) return items_.Extrae(i);
    }
    return nullptr;
}

int TColaPostExecute::Elimina(TBasePostExecute* objeto) {
    TCriticalSectionITVEntra g(lock_);
    int removed = 0;
    for (int i = items_.Numero() - 1; i >= 0; i--) {
        TItemPostExec* item = items_.Ptr(i);
        if (item && item->objeto == objeto) {
            items_.Elimina(i);
            removed++;
        }
    }
    return removed;
}

int TColaPostExecute::Numero() {
    TCriticalSectionITVEntra g(lock_);
    return items_.Numero();
}

TBasePostExecute::~TBasePostExecute() {
    if (TColaPostExecute* cola = ColaSiExiste()) cola->Elimina(this);
}

void TBasePostExecute::Encola(TItemPostExec* item, void* data, int delay_ms) {
    item->objeto = this;
    item->data = data;
    item->due = delay_ms > 0 ? static_cast<double>(GetTickCount64() + delay_ms) : 0.0;
    Cola().Push(item);
}

void TBasePostExecute::BeatTimer() {
    TColaPostExecute* cola = ColaSiExiste();
    if (!cola) return;
    while (std::unique_ptr<TItemPostExec> item{cola->Pop()})
        item->Ejecuta();
}

int TBasePostExecute::PendingCalls() {
    TColaPostExecute* cola = ColaSiExiste();
    return cola ? cola->Numero() : 0;
}
