#include "files/FicheroITV_DataIO.h"

#include "foundation/Monitor.h"

#include <algorithm>
#include <cstring>

TDataIOFtpCpp::TDataIOFtpCpp(TMonitorProc* m) : monitor(m) {
    io.callback = &FuncIOc;
    io.object = this;
}

bool TDataIOFtpCpp::FuncIOc(void* object, char* buffer, int* count) {
    auto* self = static_cast<TDataIOFtpCpp*>(object);
    if (!self || !count) return false;
    if (TMonitorProc* m = self->monitor) {
        if (m->HayStop()) return false;
        if (!buffer && *count > 0) {
            m->Start(*count);
            return true;
        }
        m->Incre(*count, false);
        int64_t pos = m->npasos.load(), total = m->total.load();
        if (pos >= 1024 && total >= 1024) {
            DString t;
            t << "KBytes: " << static_cast<long long>(pos / 1024) << "/"
              << static_cast<long long>(total / 1024);
            m->texto = t;
        }
    }
    return self->FuncIOcp(buffer, *count);
}

bool TDataIOTFicheroITV::FuncIOcp(char* buffer, int& count) {
    if (!buffer) return true;
    if (!source_) return count <= 0 || file_.PonTokenBin(buffer, count);
    int64_t n = std::min<int64_t>(std::max(count, 0), budget_);
    int64_t got = 0;
    bool ok = n == 0 || file_.LeeTokenBin(buffer, n, nullptr, 0, &got);
    budget_ -= got;
    count = static_cast<int>(got);
    return ok;
}

bool TDataIOMem::FuncIOcp(char* buffer, int& count) {
    if (!buffer) return true;
    int64_t n = std::min<int64_t>(std::max(count, 0), capacity_);
    if (n > 0) {
        if (source_)
            std::memcpy(buffer, ptr_, static_cast<size_t>(n));
        else
            std::memcpy(ptr_, buffer, static_cast<size_t>(n));
    }
    ptr_ += n;
    capacity_ -= n;
    count = static_cast<int>(n);
    return true;
}

bool TDataIOWriteDString::FuncIOcp(char* buffer, int& count) {
    if (!buffer) {
        if (count > 0) Incre_A(Length() + count + 2);
        return true;
    }
    if (count > 0) Append(buffer, count);
    return true;
}
