// The desktop's cost per step: the crossing example driven through the main window's drive
// tick on the offscreen platform, quiet and with every stream traced into the message pane.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QTimer>
#include <cstdlib>
#include <memory>

#include "controller/controller.h"
#include "engine/eval.h"
#include "gui/app_state.h"
#include "gui/dialog_host.h"
#include "gui/form_main.h"
#include "gui/form_map.h"
#include "gui/select_formula.h"

namespace ruvalda::bench {
namespace {

// Loads the crossing, presses Run and advances one tenth per drive tick, with a detector
// changing every second.
void run_crossing(benchmark::State& state, bool trace_all) {
    ScriptedDialogHost host;
    set_dialog_host(&host);
    auto controller = std::make_unique<Controller>();
    EngineState& engine = controller->engine;
    AppState app_state;
    {
        TFormMain main_window(*controller, app_state,
                              {RUVALDA_SOURCE_DIR "/examples/crossing/crossing.rvc"});
        TFormMap map_window(*controller, app_state);
        TFormSelectFormula dialog(engine, app_state, &main_window);
        main_window.set_windows(&map_window, &dialog);
        main_window.end_application = [] {};
        main_window.show();
        main_window.FormPaint();
        for (QTimer* timer : main_window.findChildren<QTimer*>()) timer->stop();
        if (trace_all) main_window.ItemTraceAllNumberedVariablesClick();
        main_window.BitBtnRunClick();
        main_window.clock.targetTime = 1;
        std::size_t lines = engine.output.pane.lines.size();
        // Traffic: every second one of these detectors goes occupied or free.
        const int detectors[] = {11, 21, 41, 51, 71, 81, 101, 111};
        std::int64_t step = 0;
        for (auto _ : state) {
            if (++step % 10 == 0) {
                const std::int64_t k = step / 10;
                SetDetectorState(engine, detectors[k % 8], static_cast<int>((k / 8) % 2 == 0));
            }
            ++main_window.clock.targetTime;
            main_window.TimerTickTimer();
        }
        if (!host.boxes.empty()) state.SkipWithError(host.boxes[0].text.toStdString().c_str());
        state.counters["pane_lines_per_step"] =
            static_cast<double>(engine.output.pane.lines.size() - lines) /
            static_cast<double>(state.iterations());
    }
    set_dialog_host(nullptr);
}

void BM_DesktopStepQuiet(benchmark::State& state) {
    run_crossing(state, false);
}
void BM_DesktopStepTracingAllStreams(benchmark::State& state) {
    run_crossing(state, true);
}
BENCHMARK(BM_DesktopStepQuiet)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DesktopStepTracingAllStreams)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace ruvalda::bench

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
