// The main window: run controls, speed, the message pane and the menus; it opens control
// files, drives the engine on its own clock and keeps its place on the screen.
#pragma once

#include <QMainWindow>
#include <QStringList>
#include <QTimer>
#include <functional>
#include <memory>
#include <vector>

#include "controller/controller.h"
#include "gui/app_state.h"
#include "gui/gui_front_end.h"
#include "gui/identification.h"
#include "gui/own_clock.h"
#include "vissim/lsa_socket.h"

class QAction;
class QButtonGroup;
class QGroupBox;
class QLabel;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QSocketNotifier;
class QTcpSocket;

namespace ruvalda {

class TFormMap;
class TFormTimeline;
class TFormSelectFormula;

// The caption form of a control file's path: two blanks and the whole name, or, for a deep
// directory, two blanks, the drive, " .." and the last directory and name.
QString ShortenedPath(const QString& file_name);

// The junction this desktop runs, under the names of its parts.
class TFormMain : public QMainWindow, private ControllerParts {
    AppState& app_state;  // what every window reads of the application

  public:
    // arguments: the command line without the program name.
    TFormMain(Controller& controller, AppState& app_state, const QStringList& arguments,
              QWidget* parent = nullptr);
    ~TFormMain() override;

    // The simulation runs on the own clock (Pause is enabled).
    bool running() const;
    // The window was put where the last exit stored it.
    bool placed_from_settings() const { return placed_from_settings_; }

    // The windows created after this one (start-up order: main, map, trace dialog).
    void set_windows(TFormMap* map, TFormSelectFormula* trace_dialog);

    // Window events; public so that tests can raise them as the toolkit would.
    void FormCreate();
    void FormShow();
    void FormPaint();
    bool FormCloseQuery();
    void FormDestroy();

    void ItemOpenClick();
    void ItemExitClick();
    bool OpenRuvalda();
    bool OpenForSimulator(const QString& file_name);

    void BitBtnRunClick();
    void BitBtnPauseClick();
    void BitBtnStepClick();
    void BitBtnResetClick();
    void ItemFileClick();
    void TimerRTCTimer();
    void TimerTickTimer();

    void ItemCopyMessagesClick();
    void ItemEraseMessagesClick();
    void ItemSaveTraceClick();
    void ItemWindowClick();
    void ItemShowHideMapClick();
    void ItemDumpAllVariablesClick(bool by_modify_time);
    void ToggleTraceStreamClick(QAction* item);
    void ItemTraceUnnumberedVariablesClick();
    void ItemTraceAllNumberedVariablesClick();
    void ItemTraceVariableClick();
    void ItemTraceVissimCommunicationsClick();
    void ItemRecordEngineTraceClick();
    void ItemAboutClick();
    void BuildTraceStreamMenu();
    // The SUMO coupling: polling pass, disconnection, lights.
    void TimerTCPReadTimer();
    void IdTCPClientDisconnected();
    bool SendLightsToSumo();

    // The About listing; sets buildDate and buildTime.
    std::string BuildIdentification();

    // The own clock's state; the real-time tick reads the wall clock through wall_millis.
    OwnClock clock;
    std::function<int()> wall_millis = wall_millis_now;
    // Ends the application; replaced by tests.
    std::function<void()> end_application;

    QString baseCaption;
    BuildDate buildDate;
    QString buildTime = "0";

  protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    void build_controls();
    void build_menus();
    QAction* add_item(QMenu* menu, const char* name, const char* caption);
    int trace_line_width() const;
    void read_window_position();
    void write_window_position();
    void start_from_command_line();
    void set_caption_for_load(bool loaded);
    void add_shortcuts(QWidget* window);
    void begin_run();
    void open_control_file(const QString& file_name);
    void ItemRecentClick();
    void restart_timeline();
    void watch_clearances();

  public:
    TFormTimeline* timeline() const { return timeline_; }

  private:
    void ItemDebugClick();
    void end_now();
    void sumo_start(const QString& host, int port);
    void sumo_connected();
    void vissim_start();
    void vissim_watch();
    void vissim_stop();

    QStringList arguments_;
    TFormMap* map_ = nullptr;
    TFormSelectFormula* trace_dialog_ = nullptr;
    TFormTimeline* timeline_ = nullptr;  // records from the start, shown on request
    GuiFrontEnd front_end_{engine.output};
    MemoPaneView* pane_view_ = nullptr;

    QPlainTextEdit* memo_ = nullptr;
    QLabel* status_panels_[3] = {};
    QGroupBox* speed_group_ = nullptr;
    QButtonGroup* speed_buttons_ = nullptr;
    QPushButton* run_ = nullptr;
    QPushButton* step_ = nullptr;
    QPushButton* pause_ = nullptr;
    QPushButton* reset_ = nullptr;
    QTimer* timer_tick_ = nullptr;
    QTimer* timer_rtc_ = nullptr;
    QTimer* timer_tcp_read_ = nullptr;
    QTcpSocket* tcp_client_ = nullptr;  // IdTCPClient
    bool sumo_pass_running_ = false;
    std::unique_ptr<LsaSocketServer> vissim_transport_;
    std::vector<QSocketNotifier*> vissim_notifiers_;
    QMenu* trace_stream_menu_ = nullptr;
    QAction* item_open_ = nullptr;
    QAction* item_run_ = nullptr;
    QAction* item_pause_ = nullptr;
    QAction* item_reset_ = nullptr;
    QAction* item_divider_ = nullptr;
    QAction* item_show_hide_map_ = nullptr;
    QAction* item_trace_unnumbered_ = nullptr;
    QAction* item_record_trace_ = nullptr;
    QMenu* debug_menu_ = nullptr;
    QMenu* recent_menu_ = nullptr;
    bool program_loaded_ = false;  // the last load succeeded: the Debug items have a program

    QString save_trace_file_;    // SaveDialogTrace's file name
    QString vissim_trace_name_;  // the open VISSIM communication trace
    bool first_show_ = true;
    bool placed_from_settings_ = false;
    bool first_paint_ = true;
    bool ending_ = false;
    bool destroyed_ = false;
};

}  // namespace ruvalda
