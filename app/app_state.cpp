#include "app/app_state.h"

namespace ruvalda {

AppState app_state;

void reset_app_state() {
    app_state = AppState{};
}

}  // namespace ruvalda
