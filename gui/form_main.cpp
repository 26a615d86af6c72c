#include "gui/form_main.h"

#include <QAction>
#include <QApplication>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSaveFile>
#include <QScreen>
#include <QShortcut>
#include <QStatusBar>
#include <QStyle>
#include <QTcpSocket>
#include <QVBoxLayout>

#include "engine/eval.h"
#include "engine/monitor.h"
#include "gui/app_state.h"
#include "gui/dialog_host.h"
#include "gui/form_map.h"
#include "gui/form_timeline.h"
#include "gui/select_formula.h"
#include "gui/window_position.h"
#include "loader/reader.h"
#include "loader/warnings.h"
#include "sequence/sequence_display.h"
#include "sequence/sequence_model.h"
#include "sumo/sumo_protocol.h"
#include "vissim/lsa.h"

namespace ruvalda {

namespace {

// Dialog filters, written as the file dialogs of the design give them.
const char* const FILTER_CONTROL_FILES = "Ruvalda files (*.rvc)|*.rvc|All files (*.*)|*.*";
const char* const FILTER_TRACE = "Text files (*.txt)|*.txt|All files (*.*)|*.*";
const char* const FILTER_VISSIM_TRACE = "Text files (*.txt)|*.txt";
// A restored main window is at least this large, so that the run controls and a few pane lines
// show; the first start uses the same height, so that a restore does not change it.
constexpr int MIN_RESTORED_WIDTH = 150;
constexpr int MIN_RESTORED_HEIGHT = 500;
// The even border around the message pane.
constexpr int TRACE_PANEL_BORDER = 4;

const char* const SPEED_CAPTIONS[] = {"&1: Real time",       "&2: Double speed", "&3: Triple speed",
                                      "&4: Quadruple speed", "&5: Five times",   "1&0: Ten times"};

QString with_extension(const QString& file_name, const QString& extension) {
    const QFileInfo info(file_name);
    QString base =
        info.path() == "." && !file_name.startsWith("./") ? QString() : info.path() + "/";
    return base + info.completeBaseName() + extension;
}

std::string local_path(const QString& name) {
    return name.toLocal8Bit().toStdString();
}

}  // namespace

QString ShortenedPath(const QString& file_name) {
    if (file_name.isEmpty()) return "    ";
    // Drive and directory with its trailing separator; the drive is empty on this platform
    // unless the name carries one.
    QString drive;
    QString rest = file_name;
    if (rest.size() >= 2 && rest[1] == ':') {
        drive = rest.left(2);
        rest = rest.mid(2);
    }
    const qsizetype last = std::max(rest.lastIndexOf('/'), rest.lastIndexOf('\\'));
    const QString directory = rest.left(last + 1);
    const QString name = rest.mid(last + 1);
    // The separator before the last one, searched from the next-to-last character down.
    qsizetype p = -1;
    for (qsizetype i = directory.size() - 2; i >= 0; --i) {
        if (directory[i] == '/' || directory[i] == '\\') {
            p = i + 1;  // 1-based
            break;
        }
    }
    if (p < 10) return "  " + file_name;
    return "  " + drive + " .." + directory.mid(p - 1) + name;
}

TFormMain::TFormMain(Controller& controller, AppState& app_state, const QStringList& arguments,
                     QWidget* parent)
    : QMainWindow(parent),
      ControllerParts(controller),
      app_state(app_state),
      arguments_(arguments) {
    setObjectName("TFormMain");
    setWindowTitle("FormMain");
    move_frame(this, {23, 286});
    end_application = [] { QCoreApplication::quit(); };
    build_controls();
    resize(trace_line_width(), MIN_RESTORED_HEIGHT);
    timeline_ = new TFormTimeline([this] { return RVGetTime(engine); }, this);
    build_menus();
    add_shortcuts(this);

    pane_view_ = new MemoPaneView(engine.output, memo_, status_panels_[2]);
    pane_view_->show_all();
    engine.output.listener = pane_view_;
    front_end_.end_application = [this] { end_now(); };
    engine.output.front_end = &front_end_;

    timer_tick_ = new QTimer(this);
    timer_tick_->setObjectName("TimerTick");
    timer_rtc_ = new QTimer(this);
    timer_rtc_->setObjectName("TimerRTC");
    timer_tcp_read_ = new QTimer(this);
    timer_tcp_read_->setObjectName("TimerTCPRead");
    for (QTimer* timer : {timer_tick_, timer_rtc_, timer_tcp_read_}) timer->setInterval(10);
    connect(timer_tick_, &QTimer::timeout, this, [this] { TimerTickTimer(); });
    connect(timer_rtc_, &QTimer::timeout, this, [this] { TimerRTCTimer(); });
    timer_tick_->start();
    timer_rtc_->start();
    FormCreate();
}

TFormMain::~TFormMain() {
    FormDestroy();
    if (engine.output.listener == pane_view_) engine.output.listener = nullptr;
    if (engine.output.front_end == &front_end_) engine.output.front_end = nullptr;
    delete pane_view_;
}

bool TFormMain::running() const {
    return pause_->isEnabled();
}

void TFormMain::set_windows(TFormMap* map, TFormSelectFormula* trace_dialog) {
    map_ = map;
    if (map_) map_->set_main_window(this);
    if (map_) add_shortcuts(map_);
    trace_dialog_ = trace_dialog;
}

// Wide enough for a trace line of a stream or a variable without scrolling the pane.
int TFormMain::trace_line_width() const {
    constexpr int TRACE_LINE_COLUMNS = 80;
    const int text =
        QFontMetrics(memo_->font()).horizontalAdvance(QString(TRACE_LINE_COLUMNS, '0'));
    const int pane_margins =
        2 * (memo_->frameWidth() + qRound(memo_->document()->documentMargin()));
    const int scroll_bar = style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    return text + pane_margins + scroll_bar + 2 * TRACE_PANEL_BORDER;
}

void TFormMain::build_controls() {
    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    auto* speed_panel = new QWidget(central);
    speed_panel->setObjectName("PanelSpeedButtons");
    speed_panel->setFixedHeight(129);
    auto* speed_layout = new QHBoxLayout(speed_panel);
    speed_layout->setContentsMargins(8, 6, 8, 6);

    speed_group_ = new QGroupBox("Simulation speed", speed_panel);
    speed_group_->setObjectName("RadioGroupSpeed");
    auto* radio_layout = new QGridLayout(speed_group_);
    radio_layout->setVerticalSpacing(2);
    speed_buttons_ = new QButtonGroup(this);
    for (int i = 0; i < 6; ++i) {
        auto* radio = new QRadioButton(SPEED_CAPTIONS[i], speed_group_);
        radio->setObjectName(QString("RadioGroupSpeedItem%1").arg(i));
        speed_buttons_->addButton(radio, i);
        radio->setToolTip("Control time runs at this multiple of real time (Alt and the digit)");
        radio_layout->addWidget(radio, i % 3, i / 3);
    }
    speed_buttons_->button(0)->setChecked(true);
    speed_layout->addWidget(speed_group_, 1);

    auto* button_layout = new QGridLayout();
    button_layout->setVerticalSpacing(4);
    auto make_button = [&](const char* name, const char* caption, QStyle::StandardPixmap glyph,
                           int row) {
        auto* button = new QPushButton(style()->standardIcon(glyph), caption, speed_panel);
        button->setObjectName(name);
        button->setEnabled(false);
        button->setMinimumWidth(96);
        button_layout->addWidget(button, row, 0);
        return button;
    };
    run_ = make_button("BitBtnRun", "&Run   ", QStyle::SP_MediaPlay, 0);
    step_ = make_button("BitBtnStep", "&Step  ", QStyle::SP_MediaSkipForward, 1);
    pause_ = make_button("BitBtnPause", "&Pause", QStyle::SP_MediaPause, 2);
    reset_ = make_button("BitBtnReset", "Re&set", QStyle::SP_MediaSkipBackward, 3);
    run_->setDefault(true);
    run_->setToolTip("Run the program on its own clock, at the speed chosen on the left (F5)");
    step_->setToolTip("Run one tenth of a second, then pause (F10)");
    pause_->setToolTip("Pause the run; Run goes on from here (Space)");
    reset_->setToolTip("Back to time 0 and the program's start values (Ctrl+R)");
    connect(run_, &QPushButton::clicked, this, [this] { BitBtnRunClick(); });
    connect(step_, &QPushButton::clicked, this, [this] { BitBtnStepClick(); });
    connect(pause_, &QPushButton::clicked, this, [this] { BitBtnPauseClick(); });
    connect(reset_, &QPushButton::clicked, this, [this] { BitBtnResetClick(); });
    speed_layout->addLayout(button_layout);
    layout->addWidget(speed_panel);

    // The pane fills the rest with an even border around it.
    auto* trace_panel = new QWidget(central);
    trace_panel->setObjectName("PanelTrace");
    auto* trace_layout = new QVBoxLayout(trace_panel);
    trace_layout->setContentsMargins(TRACE_PANEL_BORDER, TRACE_PANEL_BORDER, TRACE_PANEL_BORDER,
                                     TRACE_PANEL_BORDER);
    memo_ = new QPlainTextEdit(trace_panel);
    memo_->setObjectName("MemoOutput");
    memo_->setReadOnly(true);
    memo_->setLineWrapMode(QPlainTextEdit::NoWrap);
    memo_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    memo_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    memo_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    QFont courier("Courier New");
    courier.setStyleHint(QFont::Monospace);
    memo_->setFont(courier);
    // Keep the selection visible when the pane does not have the focus.
    QPalette palette = memo_->palette();
    palette.setColor(QPalette::Inactive, QPalette::Highlight,
                     palette.color(QPalette::Active, QPalette::Highlight));
    palette.setColor(QPalette::Inactive, QPalette::HighlightedText,
                     palette.color(QPalette::Active, QPalette::HighlightedText));
    memo_->setPalette(palette);
    trace_layout->addWidget(memo_);
    layout->addWidget(trace_panel, 1);
    setCentralWidget(central);

    statusBar()->setObjectName("StatusBar");
    const int widths[3] = {80, 60, 50};
    for (int i = 0; i < 3; ++i) {
        status_panels_[i] = new QLabel(statusBar());
        status_panels_[i]->setObjectName(QString("StatusBarPanel%1").arg(i));
        status_panels_[i]->setMinimumWidth(widths[i]);
        status_panels_[i]->setFrameShape(QFrame::Panel);
        status_panels_[i]->setFrameShadow(QFrame::Sunken);
        statusBar()->addWidget(status_panels_[i], i == 2 ? 1 : 0);
    }
}

QAction* TFormMain::add_item(QMenu* menu, const char* name, const char* caption) {
    QAction* item = menu->addAction(caption);
    item->setObjectName(name);
    return item;
}

void TFormMain::build_menus() {
    QMenu* file = menuBar()->addMenu("&File");
    file->setObjectName("ItemFile");
    item_open_ = add_item(file, "ItemOpen", "&Open");
    item_open_->setShortcut(QKeySequence::Open);
    recent_menu_ = file->addMenu("Open r&ecent");
    recent_menu_->setObjectName("ItemRecent");
    connect(recent_menu_, &QMenu::aboutToShow, this, [this] { ItemRecentClick(); });
    file->addSeparator();
    item_run_ = add_item(file, "ItemRun", "&Run");
    item_run_->setShortcut(Qt::Key_F5);
    item_pause_ = add_item(file, "ItemPause", "&Pause");
    item_reset_ = add_item(file, "ItemReset", "Re&set");
    item_reset_->setShortcut(Qt::CTRL | Qt::Key_R);
    file->addSeparator();
    QAction* save_trace = add_item(file, "ItemSaveTrace", "Save &trace ...");
    item_divider_ = file->addSeparator();
    item_divider_->setObjectName("ItemDivider");
    QAction* exit = add_item(file, "ItemExit", "E&xit");
    exit->setShortcut(QKeySequence::Quit);
    // The File keys work from every window of the application (the map window among them);
    // a modal dialog still keeps them to itself.
    for (QAction* item : {item_open_, item_run_, item_reset_, exit})
        item->setShortcutContext(Qt::ApplicationShortcut);
    connect(file, &QMenu::aboutToShow, this, [this] { ItemFileClick(); });
    connect(item_open_, &QAction::triggered, this, [this] { ItemOpenClick(); });
    // A shortcut reaches an item whose menu was not opened since the state changed: the buttons
    // say what may be done now.
    connect(item_run_, &QAction::triggered, this, [this] {
        if (run_->isEnabled()) BitBtnRunClick();
    });
    connect(item_pause_, &QAction::triggered, this, [this] {
        if (pause_->isEnabled()) BitBtnPauseClick();
    });
    connect(item_reset_, &QAction::triggered, this, [this] {
        if (reset_->isEnabled()) BitBtnResetClick();
    });
    connect(save_trace, &QAction::triggered, this, [this] { ItemSaveTraceClick(); });
    connect(exit, &QAction::triggered, this, [this] { ItemExitClick(); });

    QMenu* edit = menuBar()->addMenu("&Edit");
    edit->setObjectName("ItemEdit");
    connect(add_item(edit, "ItemCopyMessages", "&Copy messages"), &QAction::triggered, this,
            [this] { ItemCopyMessagesClick(); });
    connect(add_item(edit, "ItemEraseMessages", "&Erase messages"), &QAction::triggered, this,
            [this] { ItemEraseMessagesClick(); });

    QMenu* window = menuBar()->addMenu("&Window");
    window->setObjectName("ItemWindow");
    item_show_hide_map_ = add_item(window, "ItemShowHideMap", "&Show map");
    connect(window, &QMenu::aboutToShow, this, [this] { ItemWindowClick(); });
    connect(item_show_hide_map_, &QAction::triggered, this, [this] { ItemShowHideMapClick(); });
    QAction* show_timeline = add_item(window, "ItemShowTimeline", "Signal &timeline");
    connect(show_timeline, &QAction::triggered, this, [this] {
        timeline_->show();
        timeline_->raise();
    });

    QMenu* debug = menuBar()->addMenu("&Debug");
    debug->setObjectName("ItemDebug");
    debug_menu_ = debug;
    connect(debug, &QMenu::aboutToShow, this, [this] { ItemDebugClick(); });
    connect(add_item(debug, "ItemDumpAllVariables", "&Dump all variables in creation order"),
            &QAction::triggered, this, [this] { ItemDumpAllVariablesClick(false); });
    connect(add_item(debug, "ItemDumpAllVarsByModifyTime",
                     "D&ump all variables ordered by modify time"),
            &QAction::triggered, this, [this] { ItemDumpAllVariablesClick(true); });
    trace_stream_menu_ = debug->addMenu("&Trace stream");
    trace_stream_menu_->setObjectName("ItemTraceStream");
    trace_stream_menu_->addAction(QString());  // the placeholder until a program is loaded
    item_trace_unnumbered_ =
        add_item(debug, "ItemTraceUnnumberedVariables", "Trace &unnumbered variables");
    item_trace_unnumbered_->setCheckable(true);
    connect(item_trace_unnumbered_, &QAction::triggered, this, [this] {
        RVSetStreamFlags(engine, 0, item_trace_unnumbered_->isChecked() ? SF_TRACE : 0);
    });
    connect(add_item(debug, "ItemTraceAllNumberedVariables", "Trace &all numbered variables"),
            &QAction::triggered, this, [this] { ItemTraceAllNumberedVariablesClick(); });
    connect(add_item(debug, "ItemTraceVariable", "Trace &variable ..."), &QAction::triggered, this,
            [this] { ItemTraceVariableClick(); });
    connect(add_item(debug, "ItemTraceVissimCommunications", "Trace vissim communications ..."),
            &QAction::triggered, this, [this] { ItemTraceVissimCommunicationsClick(); });
    debug->addSeparator();
    item_record_trace_ = add_item(debug, "ItemRecordEngineTrace", "Record engine trace ...");
    item_record_trace_->setCheckable(true);
    connect(item_record_trace_, &QAction::triggered, this, [this] {
        // The check mark follows the recording, not the click.
        item_record_trace_->setChecked(!engine.trace_file_name.empty());
        ItemRecordEngineTraceClick();
    });

    QMenu* help = menuBar()->addMenu("&help");
    help->setObjectName("ItemHelp");
    connect(add_item(help, "ItemAbout", "&About"), &QAction::triggered, this,
            [this] { ItemAboutClick(); });
}

// ---- start-up ----------------------------------------------------------------------------

void TFormMain::FormCreate() {
    setProperty("hint", QString::fromStdString(window_hint(Unit::MainWindow)));
}

void TFormMain::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (first_show_) {
        first_show_ = false;
        FormShow();
    }
    // The first paint reads the command line; it may open a dialog, which must not run
    // inside the paint itself.
    if (first_paint_) QTimer::singleShot(0, this, [this] { FormPaint(); });
}

void TFormMain::paintEvent(QPaintEvent* event) {
    QMainWindow::paintEvent(event);
}

void TFormMain::hideEvent(QHideEvent* event) {
    QMainWindow::hideEvent(event);
    // Hiding the window while it runs pauses the run; minimising is not hiding.
    if (!event->spontaneous() && pause_->isEnabled()) BitBtnPauseClick();
}

void TFormMain::FormShow() {
    read_window_position();
}

void TFormMain::FormPaint() {
    if (!first_paint_) return;
    first_paint_ = false;
    if (buildDate.year == 0) BuildIdentification();
    baseCaption =
        "Ruvalda  " + QString::fromStdString(format_build_date(buildDate)) + " " + buildTime + " ";
    setWindowTitle(baseCaption);
    reader_state.macro.macro_path.clear();
    engine.colour_callback = [this](int stream, char colour) {
        if (map_) map_->UpdateColor(stream, colour);
        timeline_->colour(stream, colour);
    };
    engine.detector_callback = [this](int detector, int state) {
        timeline_->detector(detector, state);
    };
    start_from_command_line();
}

void TFormMain::start_from_command_line() {
    const qsizetype count = arguments_.size();
    if (count == 0) {
        ItemOpenClick();
    } else if (count >= 2 && arguments_[1].startsWith("sumo://")) {
        if (OpenForSimulator(arguments_[0])) {
            app_state.sumoMode = true;
            SumoAddress address;
            if (!parse_sumo_address(arguments_[1].toStdString(), &address)) {
                report_error(engine.output, ERROR, "TFormMain::FormPaint",
                             "Bad port number in argument: %s",
                             arguments_[1].toLocal8Bit().constData());
                end_now();
                return;
            }
            // Editing comes on once the connection stands; a failed one ends the program.
            sumo_start(QString::fromStdString(address.host), address.port);
            return;
        }
    } else if (QFileInfo(arguments_[0]).suffix().compare("rvc", Qt::CaseInsensitive) == 0 &&
               arguments_[0].contains('.')) {
        app_state.control_file_name = arguments_[0];
        OpenRuvalda();
    } else if (count == 5) {
        vissim_start();  // the coupling decides about editing
        return;
    }
    if (map_) map_->SetEditMode(true);
}

void TFormMain::ItemOpenClick() {
    FileDialogRequest request;
    request.object_name = "OpenDialogRuvaldaFile";
    request.filter = FILTER_CONTROL_FILES;
    request.file_name = app_state.control_file_name;
    request.must_exist = true;
    const QString chosen = dialog_host().choose_file(request);
    if (chosen.isEmpty()) return;
    open_control_file(chosen);
}

void TFormMain::open_control_file(const QString& file_name) {
    // The map's unsaved work belongs to the junction open now, and goes to its file first.
    if (map_ && map_->AskSaveGraphics()) return;
    app_state.control_file_name = file_name;
    OpenRuvalda();
}

// The list is read when the menu opens, so a second window's openings show too.
void TFormMain::ItemRecentClick() {
    recent_menu_->clear();
    const QStringList files = recent_files();
    for (int i = 0; i < files.size(); ++i) {
        QAction* item = recent_menu_->addAction(QString("&%1 %2").arg(i + 1).arg(files[i]));
        item->setObjectName(QString("ItemRecent%1").arg(i + 1));
        const QString file = files[i];
        connect(item, &QAction::triggered, this, [this, file] { open_control_file(file); });
    }
    if (files.isEmpty()) recent_menu_->addAction("(none)")->setEnabled(false);
}

bool TFormMain::OpenRuvalda() {
    const QString& name = app_state.control_file_name;
    reader_state.macro.macro_path =
        macro_path_for(local_path(name), local_path(QCoreApplication::applicationDirPath()));
    if (trace_dialog_ && trace_dialog_->isVisible()) trace_dialog_->hide();
    reader_state.sequence_handler = sequence_reader(sequence_model);
    engine.evaluation_hook = nullptr;
    const bool loaded = RVLoadFile(reader_state, engine, local_path(name).c_str()) != 0;
    program_loaded_ = loaded;
    engine.evaluation_hook = [this](const char* printed_name, int value) {
        ShowSequenceState(sequence_display, sequence_model, printed_name, value);
    };

    // Whatever ran before ran on the old table, which the load has freed: the next Run or Step
    // starts afresh.
    clock.targetTime = 0;
    pause_->setEnabled(false);
    reset_->setEnabled(false);
    run_->setEnabled(loaded);
    step_->setEnabled(loaded);
    if (map_) map_->setVisible(loaded);
    if (!loaded) {
        setWindowTitle(baseCaption);
        return false;
    }
    setWindowTitle(baseCaption + " " + ShortenedPath(name));
    remember_recent_file(QFileInfo(name).absoluteFilePath());
    restart_timeline();
    watch_clearances();
    for (const Warning& w : program_warnings(reader_state, engine, local_path(name)))
        traceprintf(engine.output, "%s\n", warning_line(w).c_str());
    save_trace_file_ = with_extension(name, ".txt");
    if (map_) map_->ForgetJunction();
    if (map_) map_->BuildStreamMenus();
    BuildTraceStreamMenu();
    if (map_) map_->LoadGraphics();
    app_state.title = QFileInfo(name).completeBaseName();
    if (map_) map_->setWindowTitle(app_state.title);
    if (app_state.sumoMode && tcp_client_ &&
        tcp_client_->state() == QAbstractSocket::ConnectedState)
        SendLightsToSumo();
    return true;
}

bool TFormMain::OpenForSimulator(const QString& file_name) {
    app_state.control_file_name = file_name;
    if (!OpenRuvalda()) return false;
    findChild<QWidget*>("PanelSpeedButtons")->hide();
    for (QAction* item : {item_open_, recent_menu_->menuAction(), item_run_, item_pause_,
                          item_reset_, item_divider_})
        item->setVisible(false);
    app_state.ownClock = false;
    if (map_) map_->SetEditMode(false);
    return true;
}

// ---- window position -----------------------------------------------------------------------

void TFormMain::read_window_position() {
    placed_from_settings_ = ruvalda::read_window_position(this, "Main");
    if (!placed_from_settings_) return;
    const QSize screen_size = screen()->size();
    if (screen_size.width() < x()) move_frame(this, {10, y()});
    if (screen_size.height() < y()) move_frame(this, {x(), 10});
    if (width() < MIN_RESTORED_WIDTH) resize_framed(this, {MIN_RESTORED_WIDTH, height()});
    if (height() < MIN_RESTORED_HEIGHT) resize_framed(this, {width(), MIN_RESTORED_HEIGHT});
}

void TFormMain::write_window_position() {
    ruvalda::write_window_position(this, "Main", app_state.title);
}

// ---- closing ---------------------------------------------------------------------------------

bool TFormMain::FormCloseQuery() {
    if (map_ && map_->AskSaveGraphics()) return false;
    engine.trace_file_name.clear();
    RVSyncTraceFile(engine);  // closes the trace file
    return true;
}

void TFormMain::closeEvent(QCloseEvent* event) {
    if (ending_ || FormCloseQuery()) {
        event->accept();
        end_now();
    } else {
        event->ignore();
    }
}

void TFormMain::ItemExitClick() {
    if (map_ && map_->AskSaveGraphics()) return;
    end_now();
}

void TFormMain::end_now() {
    ending_ = true;
    if (end_application) end_application();
}

void TFormMain::FormDestroy() {
    if (destroyed_) return;
    destroyed_ = true;
    ending_ = true;
    if (app_state.ownClock) write_window_position();
    // Whatever way the program ends, recorded traces are complete on disk.
    engine.trace_file_name.clear();
    RVSyncTraceFile(engine);
    if (lsa_state.vissimTraceFile) {
        std::fclose(lsa_state.vissimTraceFile);
        lsa_state.vissimTraceFile = nullptr;
    }
    vissim_stop();
}

// ---- run controls ----------------------------------------------------------------------------

// The timeline shows one run: a new program, or a run from time 0, starts it afresh.
void TFormMain::restart_timeline() {
    timeline_->restart(QFileInfo(app_state.control_file_name).fileName());
}

// With a declaration block, the conflict monitor watches the colours against its clearances;
// its violations go into the pane and onto the timeline.
void TFormMain::watch_clearances() {
    std::int32_t clearance[STREAM_COUNT][STREAM_COUNT];
    if (!declared_clearances(reader_state, clearance)) return;
    monitor_start(conflict_monitor, clearance);
    conflict_monitor.on_violation = [this](std::int32_t time, int a, int b, std::int32_t short_by) {
        timeline_->violation(time, a, b, short_by);
    };
}

// A run from time 0: the program's start values, shown on the map's boxes at once.
void TFormMain::begin_run() {
    restart_timeline();
    RVInitialize(engine);
    if (map_) map_->show_detector_states();
    traceprintf(engine.output, "\nSimulation started");
}

void TFormMain::BitBtnRunClick() {
    if (clock.targetTime == 0) {
        begin_run();
    } else {
        traceprintf(engine.output, "Simulation resumed\n");
    }
    if (map_) map_->SetEditMode(false);
    timer_rtc_->stop();
    timer_rtc_->start();
    pause_->setEnabled(true);
    run_->setEnabled(false);
    reset_->setEnabled(false);
    step_->setEnabled(false);
}

void TFormMain::BitBtnPauseClick() {
    if (ending_) return;
    pause_->setEnabled(false);
    traceprintf(engine.output, "\n");
    traceprintf(engine.output, "Simulation paused\n");
    if (map_) map_->SetEditMode(true);
    run_->setEnabled(true);
    reset_->setEnabled(true);
    step_->setEnabled(true);
    // The pause holds the run where the engine stands: the clock may have run ahead of its
    // last tick, and a Step goes one tenth from what was shown. A run not yet begun (time 0)
    // keeps the clock's target.
    const std::int32_t now = RVGetTime(engine);
    if (now > 0 && clock.targetTime > now) clock.targetTime = now;
    clock.targetTime = -clock.targetTime;
}

void TFormMain::BitBtnStepClick() {
    if (clock.targetTime == 0) begin_run();
    --clock.targetTime;
    RVRunUntil(engine, -clock.targetTime);
    reset_->setEnabled(true);
    // A step shows where it stopped; no tick comes to show it.
    status_panels_[0]->setText(RVGetTimeText(engine));
    status_panels_[1]->setText(QString("Rate: %1").arg(RVGetRate(engine)));
}

void TFormMain::BitBtnResetClick() {
    pause_->setEnabled(false);
    step_->setEnabled(true);
    reset_->setEnabled(false);
    clock.targetTime = 0;
}

// Space runs and pauses, F10 steps; they act as the buttons would, and only when these could.
void TFormMain::add_shortcuts(QWidget* window) {
    // Space is a window's own key (a text field elsewhere takes it), so each window that
    // drives the run gets its own.
    auto* run_or_pause = new QShortcut(Qt::Key_Space, window);
    run_or_pause->setObjectName("ShortcutRunPause");
    connect(run_or_pause, &QShortcut::activated, this, [this] {
        if (pause_->isEnabled())
            BitBtnPauseClick();
        else if (run_->isEnabled())
            BitBtnRunClick();
    });
    auto* step = new QShortcut(Qt::Key_F10, window);
    step->setObjectName("ShortcutStep");
    connect(step, &QShortcut::activated, this, [this] {
        if (step_->isEnabled()) BitBtnStepClick();
    });
}

// Without a program the Debug items have nothing to work on.
void TFormMain::ItemDebugClick() {
    for (QAction* item : debug_menu_->actions())
        if (item->objectName() != "ItemTraceVissimCommunications" && !item->isSeparator())
            item->setEnabled(program_loaded_);
}

void TFormMain::ItemFileClick() {
    item_run_->setEnabled(run_->isEnabled());
    item_pause_->setEnabled(pause_->isEnabled());
    item_reset_->setEnabled(reset_->isEnabled());
}

void TFormMain::TimerRTCTimer() {
    if (!pause_->isEnabled() || !app_state.ownClock) return;
    QAbstractButton* selected = speed_buttons_->checkedButton();
    const int factor = selected ? speed_factor_from_caption(selected->text().toStdString()) : 1;
    real_time_tick(clock, wall_millis(), factor);
}

void TFormMain::TimerTickTimer() {
    if (!pause_->isEnabled() || !app_state.ownClock || clock.tickBusy) return;
    clock.tickBusy = true;
    struct ClearBusy {
        bool& flag;
        ~ClearBusy() { flag = false; }
    } clear_busy{clock.tickBusy};
    status_panels_[0]->setText(RVGetTimeText(engine));
    // A nested real-time tick (inside a message box) may move the target while it is read.
    std::int32_t target = clock.targetTime;
    while (target != clock.targetTime) target = clock.targetTime;
    RVRunUntil(engine, target);
    status_panels_[1]->setText(QString("Rate: %1").arg(RVGetRate(engine)));
}

// ---- Edit, Window and Debug menus -----------------------------------------------------------

void TFormMain::ItemCopyMessagesClick() {
    memo_->copy();
}

void TFormMain::ItemEraseMessagesClick() {
    erase_messages(engine.output);
}

void TFormMain::ItemSaveTraceClick() {
    FileDialogRequest request;
    request.object_name = "SaveDialogTrace";
    request.title = "Save execution trace to file";
    request.filter = FILTER_TRACE;
    request.default_suffix = "txt";
    request.file_name = save_trace_file_;
    request.save = true;
    request.confirm_overwrite = true;
    const QString chosen = dialog_host().choose_file(request);
    if (chosen.isEmpty()) return;
    save_trace_file_ = chosen;
    // Written beside and then renamed, so a failed save leaves the old file as it was.
    QSaveFile file(chosen);
    bool ok = file.open(QIODevice::WriteOnly);
    for (const std::string& line : engine.output.pane.lines) {
        if (!ok) break;
        ok = file.write(line.data(), static_cast<qint64>(line.size())) ==
                 static_cast<qint64>(line.size()) &&
             file.write("\r\n", 2) == 2;
    }
    if (ok) ok = file.commit();
    if (!ok)
        show_message(QMessageBox::Critical, app_state.title,
                     QString("Cannot create file \"%1\". %2").arg(chosen, file.errorString()));
}

void TFormMain::ItemWindowClick() {
    item_show_hide_map_->setText(map_ && map_->isVisible() ? "&Hide map" : "&Show map");
}

void TFormMain::ItemShowHideMapClick() {
    if (map_) map_->setVisible(!map_->isVisible());
}

void TFormMain::ItemDumpAllVariablesClick(bool by_modify_time) {
    RVDumpVars(
        engine,
        [this](const char* line) {
            traceprintf(engine.output, "%s\n", line);
            return true;
        },
        by_modify_time);
}

void TFormMain::BuildTraceStreamMenu() {
    trace_stream_menu_->clear();
    for (int stream = FIRST_STREAM; stream <= LAST_STREAM; ++stream) {
        if (!(RVGetStreamFlags(engine, stream) & SF_EXISTS)) continue;
        QAction* item = trace_stream_menu_->addAction(QString::asprintf("%02d", stream));
        item->setData(stream);
        item->setCheckable(true);
        connect(item, &QAction::triggered, this, [this, item] {
            RVSetStreamFlags(engine, item->data().toInt(), item->isChecked() ? SF_TRACE : 0);
        });
    }
}

void TFormMain::ToggleTraceStreamClick(QAction* item) {
    // A click has toggled the mark already; this is the same for a caller.
    item->toggle();
    RVSetStreamFlags(engine, item->data().toInt(), item->isChecked() ? SF_TRACE : 0);
}

void TFormMain::ItemTraceUnnumberedVariablesClick() {
    item_trace_unnumbered_->trigger();
}

void TFormMain::ItemTraceAllNumberedVariablesClick() {
    const QList<QAction*> items = trace_stream_menu_->actions();
    for (qsizetype i = items.size() - 1; i >= 0; --i)
        if (items[i]->isCheckable() && !items[i]->isChecked()) ToggleTraceStreamClick(items[i]);
}

void TFormMain::ItemTraceVariableClick() {
    if (!trace_dialog_) return;
    if (trace_dialog_->isVisible()) trace_dialog_->hide();
    trace_dialog_->show();
}

void TFormMain::ItemTraceVissimCommunicationsClick() {
    if (lsa_state.vissimTraceFile) {
        std::fclose(lsa_state.vissimTraceFile);
        lsa_state.vissimTraceFile = nullptr;
        return;
    }
    FileDialogRequest request;
    request.object_name = "SaveDialogVissimTrace";
    request.filter = FILTER_VISSIM_TRACE;
    request.default_suffix = "txt";
    request.save = true;
    request.confirm_overwrite = true;
    const QString chosen = dialog_host().choose_file(request);
    if (chosen.isEmpty()) return;
    lsa_state.vissimTraceFile = std::fopen(local_path(chosen).c_str(), "w");
}

void TFormMain::ItemRecordEngineTraceClick() {
    if (!engine.trace_file_name.empty()) {
        traceprintf(engine.output, "Engine trace \"%s\" closed\n", engine.trace_file_name.c_str());
        engine.trace_file_name.clear();
        RVSyncTraceFile(engine);  // closes the file
        item_record_trace_->setChecked(false);
        return;
    }
    FileDialogRequest request;
    request.object_name = "SaveDialogEngineTrace";
    request.title = "Record engine trace";
    request.filter = FILTER_TRACE;
    request.default_suffix = "txt";
    request.file_name = with_extension(app_state.control_file_name, ".trace.txt");
    request.save = true;
    request.confirm_overwrite = true;
    const QString chosen = dialog_host().choose_file(request);
    if (chosen.isEmpty()) return;
    engine.trace_file_name = local_path(chosen);
    RVSyncTraceFile(engine);  // opens the file now, so the colours of the next reset are in it
    const bool open = engine.trace_file != nullptr;
    if (open)
        traceprintf(engine.output, "Recording engine trace to \"%s\"\n",
                    engine.trace_file_name.c_str());
    else
        engine.trace_file_name.clear();
    item_record_trace_->setChecked(open);
}

std::string TFormMain::BuildIdentification() {
    IdentificationInput input;
    input.entry = unit_lines(Unit::Entry).body;
    for (QWidget* window : std::initializer_list<QWidget*>{this, map_, trace_dialog_}) {
        if (!window) continue;
        const QString hint = window->property("hint").toString();
        if (!hint.isEmpty()) input.window_hints.push_back(hint.toStdString());
    }
    for (Unit unit : {Unit::SequenceDiagram, Unit::MessageOutput, Unit::Engine,
                      Unit::VissimConversation, Unit::VissimBuffer}) {
        UnitLines lines = unit_lines(unit);
        if (!lines.body.empty()) input.units.push_back(lines);
    }
    Identification identification = ruvalda::BuildIdentification(input);
    buildDate = identification.date;
    buildTime = QString::fromStdString(identification.time);
    return identification.listing;
}

void TFormMain::ItemAboutClick() {
    const std::string listing = BuildIdentification();
    show_message(QMessageBox::Information, app_state.title,
                 "This version of Ruvalda was built from:\r\n" + QString::fromStdString(listing));
}

}  // namespace ruvalda
