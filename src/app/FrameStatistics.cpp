#include "app/FrameStatistics.h"

#include "foundation/Registra.h"

namespace {
TFrameStatistics g_sin_estadisticas;
TFrameStatistics* g_estadisticas = &g_sin_estadisticas;
} // namespace

bool TFrameStatistics::UseStatusInformation(const char* event_name) {
    (void)event_name;
    CustomRegistraComun("statusInformation=NULL");
    return false;
}

TFrameStatistics& FrameStatistics() {
    return *g_estadisticas;
}

void SetFrameStatistics(TFrameStatistics* stats) {
    g_estadisticas = stats ? stats : &g_sin_estadisticas;
}
