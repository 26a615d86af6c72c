#include "app/app_state.h"

namespace ruvalda {

AppState app_state;

void reset_app_state() {
    if (app_state.vissimTraceFile) std::fclose(app_state.vissimTraceFile);
    app_state = AppState{};
}

}  // namespace ruvalda
