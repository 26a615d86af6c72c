#include "gui/form_map.h"

#include <QAction>
#include <QApplication>
#include <QFileInfo>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QScrollArea>
#include <QStatusBar>
#include <QTimer>
#include <map>
#include <utility>

#include "engine/eval.h"
#include "gui/app_state.h"
#include "gui/dialog_host.h"
#include "gui/form_main.h"
#include "gui/identification.h"
#include "gui/map_widgets.h"
#include "gui/window_position.h"
#include "map/graphics_file.h"
#include "map/map_editor.h"
#include "map/picture.h"
#include "map/stream_glyphs.h"
#include "output/output.h"
#include "sequence/sequence_display.h"
#include "sequence/sequence_model.h"
#include "sumo/sumo_protocol.h"
#include "vissim/lsa.h"

namespace ruvalda {

namespace {

// Detector boxes no graphics file places stand in rows of ten, each with room for its caption
// ("D011") on a map without a picture.
constexpr int BOXES_PER_ROW = 10;
constexpr int BOX_COLUMN_WIDTH = 60;
constexpr int BOX_ROW_HEIGHT = 20;

// A control on the picture as a drawing records it.
PlacedControl placed_control(const QWidget* control) {
    if (auto* disc = dynamic_cast<const LightDisc*>(control))
        return {true, disc->tag(), control->pos()};
    return {false, static_cast<const DetectorBox*>(control)->tag(), control->pos()};
}

QColor letter_colour(char letter) {
    switch (letter) {
        case 'G':
            return QColor(0, 255, 0);
        case 'Y':
            return QColor(255, 255, 0);
        default:
            return QColor(255, 0, 0);
    }
}

std::string local_path(const QString& name) {
    return name.toLocal8Bit().toStdString();
}
QString from_local(const std::string& name) {
    return QString::fromLocal8Bit(name);
}

// Pixels of a line from a to b without b itself, as the sequence pictures are drawn.
void draw_line_without_end(QImage& image, QPoint a, QPoint b, QRgb rgb) {
    const int dx = std::abs(b.x() - a.x()), dy = -std::abs(b.y() - a.y());
    const int sx = a.x() < b.x() ? 1 : -1, sy = a.y() < b.y() ? 1 : -1;
    int error = dx + dy;
    QPoint p = a;
    while (p != b) {
        if (image.rect().contains(p)) image.setPixel(p, rgb);
        const int twice = 2 * error;
        if (twice >= dy) {
            error += dy;
            p.rx() += sx;
        }
        if (twice <= dx) {
            error += dx;
            p.ry() += sy;
        }
    }
}

// The picture of one block of the sequence.
QPixmap block_picture(const GlyphCanvas& canvas) {
    QImage image(SEQ_PICTURE_SIZE, SEQ_PICTURE_SIZE, QImage::Format_RGB32);
    image.fill(Qt::white);
    for (const GlyphCanvas::Op& op : canvas.ops) {
        const QRgb rgb = 0xff000000u | op.rgb;
        if (op.kind == GlyphCanvas::Op::Line) {
            draw_line_without_end(image, {op.x1, op.y1}, {op.x2, op.y2}, rgb);
        } else {
            QPainter painter(&image);
            painter.setPen(QColor::fromRgb(rgb));
            painter.drawRoundedRect(QRect(QPoint(op.x1, op.y1), QPoint(op.x2 - 1, op.y2 - 1)), 1,
                                    1);
        }
    }
    return QPixmap::fromImage(image);
}

}  // namespace

// The window's side of map editing: what the editor asks to be shown.
class MapEditorView : public EditorView {
  public:
    explicit MapEditorView(TFormMap* form) : form_(form) {}
    void repaint_map() override {
        form_->image_->rubber_band.clear();  // a repaint starts from the clean picture
        form_->image_->band_shown = false;
        form_->RedrawMap();
    }
    void draw_rubber_band() override {
        // Drawing the inverted outline twice restores the picture: each call flips it.
        MapImage* image = form_->image_;
        image->band_shown = !image->band_shown;
        image->rubber_band.clear();
        if (image->band_shown)
            for (int i = 0; i < form_->map_editor.count; ++i) {
                const MapPoint& p = form_->map_editor.buffer[static_cast<std::size_t>(i)];
                image->rubber_band.emplace_back(p.x, p.y);
            }
        image->update();
    }
    void set_cursor(MapCursor cursor) override {
        form_->image_->setCursor(cursor == MapCursor::Cross ? Qt::CrossCursor : Qt::ArrowCursor);
    }
    void set_status(const std::string& text) override {
        form_->statusBar()->showMessage(QString::fromStdString(text));
    }
    void add_light_disc(int stream, MapPoint centre) override {
        form_->new_light_disc(stream, centre.x, centre.y);
    }
    bool simulation_running() const override { return form_->simulation_running(); }
    void report_error(const char* where, const char* text) override {
        ruvalda::report_error(form_->engine.output, ERROR, where, "%s", text);
    }

  private:
    TFormMap* form_;
};

namespace {

// The window's side of the graphics file.
class MapGraphicsSink : public GraphicsSink {
  public:
    MapGraphicsSink(TFormMap* form, QString title) : form_(form), title_(std::move(title)) {}
    void clear_discs() override {
        for (LightDisc* disc : form_->image()->findChildren<LightDisc*>()) delete disc;
    }
    bool load_picture() override {
        if (!form_->LoadMap()) return false;
        form_->draw_sequence();
        return true;
    }
    bool place_detector_box(int detector, MapPoint corner) override {
        return form_->SetDetectorCheckBox(detector, corner.x, corner.y, false, 0);
    }
    void add_light_disc(int stream, MapPoint centre) override {
        form_->new_light_disc(stream, centre.x, centre.y);
    }
    bool ask_continue(const std::string& text) override {
        return show_message(QMessageBox::Question, title_, QString::fromStdString(text),
                            QMessageBox::Yes | QMessageBox::No) != QMessageBox::No;
    }

  private:
    TFormMap* form_;
    QString title_;  // of the question's box
};

}  // namespace

TFormMap::TFormMap(Controller& controller, AppState& app_state, QWidget* parent)
    : QMainWindow(parent), ControllerParts(controller), app_state(app_state) {
    setObjectName("TFormMap");
    setWindowTitle("Map");
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowMinMaxButtonsHint);
    setProperty("hint", QString::fromStdString(window_hint(Unit::MapWindow)));
    editor_view_ = new MapEditorView(this);
    labels_.assign(MAP_STREAMS, nullptr);

    auto* central = new QWidget(this);
    auto* layout = new QHBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    auto* panel1 = new QWidget(central);
    panel1->setObjectName("Panel1");
    panel1->setFixedWidth(113);
    panel_seq_pict_ = new QWidget(panel1);
    panel_seq_pict_->setObjectName("PanelSeqPict");
    panel_seq_pict_->setGeometry(0, 0, 110, 400);
    panel_seq_pict_->hide();
    panel_mrv_ = new QWidget(panel1);
    panel_mrv_->setObjectName("PanelMRV");
    panel_mrv_->setGeometry(0, 416, 110, 300);
    layout->addWidget(panel1);

    scroll_ = new QScrollArea(central);
    scroll_->setObjectName("ScrollBoxImage");
    image_ = new MapImage(scroll_);
    scroll_->setWidget(image_);
    layout->addWidget(scroll_, 1);
    setCentralWidget(central);
    statusBar()->setObjectName("StatusBar");

    image_->mouse.down = [this](QWidget*, QMouseEvent* event) {
        const MouseButton button = event->button() == Qt::RightButton  ? MouseButton::Right
                                   : event->button() == Qt::LeftButton ? MouseButton::Left
                                                                       : MouseButton::Middle;
        // A right click that ends a polygon being drawn is that, not a call for the menu the
        // window system asks for with the same click.
        right_click_ends_polygon_ = button == MouseButton::Right && map_editor.edit_mode &&
                                    map_editor.edit_stream != 0 && !map_editor.disc_mode;
        ImageMapMouseDown(map_model, map_editor, *editor_view_, button,
                          event->position().toPoint().x(), event->position().toPoint().y());
    };
    image_->mouse.move = [this](QWidget*, QMouseEvent* event) {
        ImageMapMouseMove(map_model, map_editor, *editor_view_, event->position().toPoint().x(),
                          event->position().toPoint().y());
    };
    image_->mouse.up = [this](QWidget*, QMouseEvent* event) {
        ImageMapMouseUp(map_model, map_editor, *editor_view_, event->position().toPoint().x(),
                        event->position().toPoint().y());
        note_edit();
    };
    image_->context_menu = [this](QContextMenuEvent* event) {
        if (std::exchange(right_click_ends_polygon_, false) &&
            event->reason() == QContextMenuEvent::Mouse)
            return;
        const bool selected = polygon_selected(map_model, map_editor);
        item_delete_polygon_->setEnabled(selected);
        item_finish_polygon_->setEnabled(selected);
        popup_map_->popup(event->globalPos());
    };

    build_menus();
    QFont label_font("Courier New", 10, QFont::Bold);
    label_font.setStyleHint(QFont::Monospace);
    sequence_display.label_height = QFontMetrics(label_font).height();
    sequence_display.changed = [this] {
        // Evaluations come by the thousand; the panels follow once per turn of the event loop.
        if (sequence_dirty_) return;
        sequence_dirty_ = true;
        QTimer::singleShot(0, this, [this] { refresh_sequence(); });
    };
    resize(764, 809);
}

TFormMap::~TFormMap() {
    FormDestroy();
    sequence_display.changed = nullptr;
    delete editor_view_;
}

void TFormMap::build_menus() {
    QMenu* file = menuBar()->addMenu("&File");
    file->setObjectName("ItemFile");
    QAction* load_bitmap = file->addAction("&Load bitmap");
    load_bitmap->setObjectName("ItemLoadbitmap");
    file->addSeparator();
    QAction* load_graphics = file->addAction("L&oad graphics environment");
    load_graphics->setObjectName("ItemLoadGraphicsEnvironment");
    QAction* save_graphics = file->addAction("&Save graphics environment");
    save_graphics->setObjectName("ItemSaveGraphicsEnvironment");
    connect(load_bitmap, &QAction::triggered, this, [this] { ItemLoadbitmapClick(); });
    connect(load_graphics, &QAction::triggered, this,
            [this] { ItemLoadGraphicsEnvironmentClick(); });
    connect(save_graphics, &QAction::triggered, this,
            [this] { ItemSaveGraphicsEnvironmentClick(); });

    edit_menu_ = menuBar()->addMenu("&Edit");
    edit_menu_->setObjectName("ItemEdit");
    item_undo_ = edit_menu_->addAction("&Undo");
    item_undo_->setObjectName("ItemUndo");
    item_undo_->setShortcut(QKeySequence::Undo);
    item_undo_->setEnabled(false);
    addAction(item_undo_);  // the key works with the menu closed
    connect(item_undo_, &QAction::triggered, this, [this] { ItemUndoClick(); });
    edit_menu_->addSeparator();
    add_polygon_ = edit_menu_->addMenu("Add traffic light &polygon");
    add_polygon_->setObjectName("ItemAddPolygon");
    add_disc_ = edit_menu_->addMenu("Add traffic light &disc");
    add_disc_->setObjectName("ItemAddDisc");

    popup_map_ = new QMenu(this);
    popup_map_->setObjectName("PopupMenuMap");
    item_finish_polygon_ = popup_map_->addAction("&Finish polygon");
    item_finish_polygon_->setObjectName("ItemFinishPolygon");
    item_delete_polygon_ = popup_map_->addAction("&Delete polygon");
    item_delete_polygon_->setObjectName("ItemDeletePolygon");
    popup_add_polygon_ = popup_map_->addMenu("Add traffic light &polygon");
    popup_add_polygon_->setObjectName("ItemPopUpAddPolygon");
    popup_add_disc_ = popup_map_->addMenu("Add traffic light &disc");
    popup_add_disc_->setObjectName("ItemPopUpAddDisc");
    connect(item_delete_polygon_, &QAction::triggered, this, [this] {
        ItemDeletePolygonClick(map_model, map_editor, *editor_view_);
        note_edit();
    });

    popup_disc_ = new QMenu(this);
    popup_disc_->setObjectName("PopupMenuDisc");
    QAction* delete_disc = popup_disc_->addAction("&Delete traffic light disc");
    delete_disc->setObjectName("ItemDeleteTrafficLightDisc");
    connect(delete_disc, &QAction::triggered, this, [this] { ItemDeleteTrafficLightDiscClick(); });
}

bool TFormMap::simulation_running() const {
    return main_window_ && main_window_->running();
}

bool TFormMap::edit_mode() const {
    return map_editor.edit_mode;
}

// ---- colours -----------------------------------------------------------------------------------

void TFormMap::UpdateColor(int stream, char letter) {
    if (!is_stream(stream)) {
        report_error(engine.output, PROGRAM_ERROR, "TFormMap::UpdateColor", "Bad StreamID: %d",
                     stream);
        return;
    }
    if (letter != 'G' && letter != 'R' && letter != 'Y') {
        report_error(engine.output, PROGRAM_ERROR, "TFormMap::UpdateColor", "Bad NewColor: %c",
                     letter);
        return;
    }
    map_model.colour[static_cast<std::size_t>(stream)] = letter;
    paint_stream(stream, letter);
    if (app_state.vissimMode) lsa_wish_colour(lsa_state, stream, letter);
    // The SUMO coupling sends the colours with its next lights line.
    if (app_state.sumoMode && (RVGetStreamFlags(engine, stream) & SF_EXISTS))
        record_sumo_colour(sumo_link, stream, letter);
}

void TFormMap::paint_stream(int stream, char letter) {
    const QColor colour = letter_colour(letter);
    const auto& polygons = map_model.polygons[static_cast<std::size_t>(stream)];
    if (!polygons.empty()) {
        QPainter painter(&image_->bitmap);
        painter.setPen(colour);
        painter.setBrush(QBrush(colour, Qt::SolidPattern));
        for (const MapPolygon& polygon : polygons) {
            const auto& p = polygon.points;
            if (polygon.count <= 0) continue;
            if (polygon.count == 1) {
                painter.drawLine(p[0].x, p[0].y, p[0].x, p[0].y + 1);
            } else if (polygon.count == 2) {
                painter.drawLine(p[0].x, p[0].y, p[1].x, p[1].y);
            } else {
                QPolygon shape;
                for (int i = 0; i < polygon.count && i < MAX_POLYGON_POINTS; ++i)
                    shape << QPoint(p[static_cast<std::size_t>(i)].x,
                                    p[static_cast<std::size_t>(i)].y);
                painter.drawPolygon(shape);
            }
        }
        image_->update();
    }
    for (LightDisc* disc : image_->findChildren<LightDisc*>())
        if (disc->tag() == stream) disc->set_colour(colour);
}

void TFormMap::RedrawMap() {
    if (background_.isNull()) {
        image_->bitmap =
            QImage(map_model.picture_width, map_model.picture_height, QImage::Format_RGB32);
        image_->bitmap.fill(Qt::white);
    } else {
        image_->bitmap = background_.convertToFormat(QImage::Format_RGB32);
    }
    image_->update();
    for (int stream = FIRST_STREAM; stream <= LAST_STREAM; ++stream)
        UpdateColor(stream, map_model.colour[static_cast<std::size_t>(stream)]);
    for (DetectorBox* box : image_->findChildren<DetectorBox*>())
        box->show_caption(background_.isNull());
}

// ---- controls on the picture --------------------------------------------------------------------

std::vector<QWidget*> TFormMap::picture_controls() const {
    std::vector<QWidget*> controls;
    for (QObject* child : image_->children())
        if (dynamic_cast<LightDisc*>(child) || dynamic_cast<DetectorBox*>(child))
            controls.push_back(static_cast<QWidget*>(child));
    return controls;
}

void TFormMap::fill_stream_menu(QMenu* menu, bool disc) {
    menu->clear();
    for (int stream = FIRST_STREAM; stream <= LAST_STREAM; ++stream) {
        if (!(RVGetStreamFlags(engine, stream) & SF_EXISTS)) continue;
        QAction* entry = menu->addAction(QString::asprintf("%02d", stream));
        entry->setData(stream);
        connect(entry, &QAction::triggered, this, [this, stream, disc] {
            AddPolygonOrDiscClick(map_model, map_editor, *editor_view_, stream, disc);
        });
    }
}

void TFormMap::BuildStreamMenus() {
    fill_stream_menu(add_polygon_, false);
    fill_stream_menu(popup_add_polygon_, false);
    fill_stream_menu(add_disc_, true);
    fill_stream_menu(popup_add_disc_, true);
    for (QWidget* control : picture_controls()) delete control;
    remembered_disc_ = nullptr;
    int k = 0;
    for (int stream = FIRST_STREAM; stream <= LAST_STREAM; ++stream) {
        if (!(RVGetStreamFlags(engine, stream) & SF_EXISTS)) continue;
        for (int sub = 1; sub <= 9; ++sub) {
            const int detector = stream * 10 + sub;
            if (RVExportDetector(engine, detector) == -1) continue;
            new_detector_box(detector, (k % BOXES_PER_ROW) * BOX_COLUMN_WIDTH,
                             (k / BOXES_PER_ROW) * BOX_ROW_HEIGHT);
            ++k;
        }
    }
}

DetectorBox* TFormMap::new_detector_box(int detector, int left, int top) {
    auto* box = new DetectorBox(image_, detector);
    box->setToolTip(QString::asprintf("D%03d: detector %d of stream %02d", detector, detector % 10,
                                      detector / 10));
    box->move(left, top);
    box->show_caption(background_.isNull());
    connect_box(box);
    box->show();
    return box;
}

LightDisc* TFormMap::new_light_disc(int stream, int x, int y) {
    auto* disc = new LightDisc(image_, stream);
    disc->set_colour(letter_colour(map_model.colour[static_cast<std::size_t>(stream)]));
    if (x > 0 || y > 0)
        disc->move(
            clamp_to_picture(x - disc->width() / 2, disc->width(), map_model.picture_width),
            clamp_to_picture(y - disc->height() / 2, disc->height(), map_model.picture_height));
    else
        disc->move(-100, -100);
    connect_disc(disc);
    disc->show();
    return disc;
}

void TFormMap::connect_box(DetectorBox* box) {
    auto rect = [](QWidget* w) { return ControlRect{w->x(), w->y(), w->width(), w->height()}; };
    box->mouse.down = [this, box, rect](QWidget*, QMouseEvent* event) {
        const QPoint at = event->position().toPoint();
        CheckBoxMouseDown(map_editor, *editor_view_, box->tag(), rect(box), at.x(), at.y());
    };
    box->mouse.move = [this, box, rect](QWidget*, QMouseEvent* event) {
        const QPoint at = event->position().toPoint();
        if (auto moved =
                CheckBoxMouseMove(map_editor, *editor_view_, box->tag(), rect(box), at.x(), at.y()))
            box->move(moved->x, moved->y);
    };
    box->mouse.up = [this, box, rect](QWidget*, QMouseEvent* event) {
        const QPoint at = event->position().toPoint();
        if (auto moved = CheckBoxMouseUp(map_model, map_editor, *editor_view_, box->tag(),
                                         rect(box), at.x(), at.y()))
            box->move(moved->x, moved->y);
        note_edit();
    };
    connect(box, &QCheckBox::clicked, this, [this, box](bool checked) {
        if (map_editor.edit_mode)
            box->setChecked(RVExportDetector(engine, box->tag()) != 0);
        else
            SetDetectorState(engine, box->tag(), checked ? 1 : 0);
    });
}

void TFormMap::connect_disc(LightDisc* disc) {
    auto rect = [](QWidget* w) { return ControlRect{w->x(), w->y(), w->width(), w->height()}; };
    disc->mouse.down = [this, disc, rect](QWidget*, QMouseEvent* event) {
        const QPoint at = event->position().toPoint();
        DiscMouseDown(map_editor, *editor_view_, disc->tag(), rect(disc), at.x(), at.y());
    };
    disc->mouse.move = [this, disc, rect](QWidget*, QMouseEvent* event) {
        const QPoint at = event->position().toPoint();
        const bool left = event->buttons() & Qt::LeftButton;
        const bool ctrl = event->modifiers() & Qt::ControlModifier;
        const auto moved = DiscMouseMove(map_model, map_editor, *editor_view_, disc->tag(),
                                         rect(disc), at.x(), at.y(), left, ctrl);
        if (!moved) return;
        const QPoint shift = QPoint(moved->x, moved->y) - disc->pos();
        disc->move(moved->x, moved->y);
        if (ctrl)
            for (DetectorBox* box : image_->findChildren<DetectorBox*>())
                if (box->tag() / 10 == disc->tag()) box->move(box->pos() + shift);
    };
    disc->mouse.up = [this, disc, rect](QWidget*, QMouseEvent* event) {
        const QPoint at = event->position().toPoint();
        if (event->button() == Qt::RightButton) {
            if (map_editor.edit_mode && map_editor.dragged_box == 0) {
                remembered_disc_ = disc;
                popup_disc_->popup(event->globalPosition().toPoint());
            }
            return;
        }
        if (auto moved = DiscMouseUp(map_model, map_editor, *editor_view_, disc->tag(), rect(disc),
                                     at.x(), at.y()))
            disc->move(moved->x, moved->y);
        note_edit();
    };
}

bool TFormMap::SetDetectorCheckBox(int detector, int x, int y, bool complain, int state) {
    const std::vector<QWidget*> controls = picture_controls();
    for (auto it = controls.rbegin(); it != controls.rend(); ++it) {
        auto* box = dynamic_cast<DetectorBox*>(*it);
        if (!box || box->tag() != detector) continue;
        int left = box->x(), top = box->y();
        if (x != -100) left = clamp_to_picture(x, box->width(), map_model.picture_width);
        if (y != -100) top = clamp_to_picture(y, box->height(), map_model.picture_height);
        box->move(left, top);
        if (state == 1) box->setChecked(true);
        if (state == 0) box->setChecked(false);
        return true;
    }
    if (complain)
        report_error(engine.output, PROGRAM_ERROR, "SetDetectorCheckBox",
                     "Cannot find CheckBox %d.", detector);
    return false;
}

void TFormMap::show_detector_states() {
    for (DetectorBox* box : image_->findChildren<DetectorBox*>())
        box->setChecked(RVExportDetector(engine, box->tag()) > 0);
}

void TFormMap::ItemDeleteTrafficLightDiscClick() {
    if (!remembered_disc_) return;
    delete remembered_disc_;
    remembered_disc_ = nullptr;
    map_model.unsaved = true;
    note_edit();
}

MapSnapshot TFormMap::snapshot() const {
    MapSnapshot drawing;
    drawing.polygons = map_model.polygons;
    drawing.picture_file = map_model.picture_file;
    drawing.picture_width = map_model.picture_width;
    drawing.picture_height = map_model.picture_height;
    drawing.jpeg = map_model.jpeg;
    drawing.background = background_;
    for (QWidget* control : picture_controls()) drawing.controls.push_back(placed_control(control));
    return drawing;
}

void TFormMap::restore(const MapSnapshot& drawing) {
    map_model.polygons = drawing.polygons;
    map_model.picture_file = drawing.picture_file;
    map_model.picture_width = drawing.picture_width;
    map_model.picture_height = drawing.picture_height;
    map_model.jpeg = drawing.jpeg;
    background_ = drawing.background;
    image_->bitmap = background_;
    image_->setFixedSize(map_model.picture_width, map_model.picture_height);
    // The controls are made anew in the drawing's order: a stream may have several discs, and
    // the order is the one a save writes.
    std::map<int, bool> ticked;
    for (DetectorBox* box : image_->findChildren<DetectorBox*>())
        ticked[box->tag()] = box->isChecked();
    for (QWidget* control : picture_controls()) delete control;
    remembered_disc_ = nullptr;
    for (const PlacedControl& control : drawing.controls) {
        if (control.disc) {
            new_light_disc(control.tag, 0, 0)->move(control.pos);
        } else {
            DetectorBox* box = new_detector_box(control.tag, control.pos.x(), control.pos.y());
            box->setChecked(ticked[control.tag]);
        }
    }
    RedrawMap();
}

void TFormMap::note_edit() {
    // A polygon being drawn or a box being dragged is one edit, noted when it ends.
    if (map_editor.edit_stream != 0 || map_editor.dragged_box != 0) return;
    undo_.edited(snapshot());
    update_undo_item();
}

void TFormMap::reset_undo() {
    undo_.reset(snapshot());
    update_undo_item();
}

void TFormMap::update_undo_item() {
    item_undo_->setEnabled(map_editor.edit_mode && undo_.can_undo());
}

void TFormMap::ItemUndoClick() {
    if (!map_editor.edit_mode) return;
    ruvalda::SetEditMode(map_editor, *editor_view_, false);  // ends an edit going on
    map_editor.edit_mode = true;
    undo_.edited(snapshot());
    if (undo_.can_undo()) {
        restore(undo_.undo());
        map_model.unsaved = !undo_.as_saved();
    }
    update_undo_item();
}

// ---- picture
// -------------------------------------------------------------------------------------

bool TFormMap::LoadMap() {
    background_ = QImage();
    const QFileInfo named(from_local(map_model.picture_file));
    const QString stem = named.path() + "/" + named.completeBaseName();
    const QString jpg = stem + ".jpg", bmp = stem + ".bmp";
    const bool have_jpg = QFileInfo::exists(jpg), have_bmp = QFileInfo::exists(bmp);
    QString chosen;
    if (have_jpg && have_bmp) {
        const QString s = named.completeBaseName();
        FileDialogRequest request;
        request.object_name = "OpenDialogPicture";
        request.filter = QString("Background pictures (%1.jpg;%1.bmp)|%1.jpg;%1.bmp").arg(s);
        request.file_name = named.path() + "/" + s + ".jpg";
        request.must_exist = true;
        chosen = dialog_host().choose_file(request);
    } else if (have_jpg || have_bmp) {
        chosen = have_jpg ? jpg : bmp;
    } else {
        FileDialogRequest request;
        request.object_name = "OpenDialogPicture";
        request.filter = "Graphic pictures (*.jpg;*.bmp)|*.jpg;*.bmp";
        request.directory = named.path();
        request.must_exist = true;
        chosen = dialog_host().choose_file(request);
    }
    if (chosen.isEmpty() || !QFileInfo::exists(chosen))
        return report_error(engine.output, ERROR, "Load Map",
                            "cannot find appropriate map file\n %s\n or\n %s",
                            local_path(jpg).c_str(), local_path(bmp).c_str());

    QImage picture;
    const QString suffix = QFileInfo(chosen).suffix().toLower();
    if (suffix == "jpg" || suffix == "jpeg") {
        DecodedPicture decoded;
        if (decode_jpeg_file(local_path(chosen), &decoded))
            picture = QImage(decoded.rgb.data(), decoded.width, decoded.height, decoded.width * 3,
                             QImage::Format_RGB888)
                          .copy();
    } else {
        picture.load(chosen);
    }
    if (picture.isNull())
        return report_error(engine.output, ERROR, "LoadMap", "Cannot load graphics file.");
    background_ = picture.convertToFormat(QImage::Format_RGB32);
    map_model.picture_file = local_path(chosen);
    map_model.picture_width = background_.width();
    map_model.picture_height = background_.height();
    image_->bitmap = background_;
    image_->setFixedSize(background_.size());
    ArrangeWindows(false);
    return true;
}

void TFormMap::ArrangeWindows(bool simulator_run) {
    const QSize screen_size = screen()->size();
    if (simulator_run) {
        if (main_window_) {
            QWidget* speed = main_window_->findChild<QWidget*>("PanelSpeedButtons");
            const int height = (speed ? speed->geometry().bottom() : 0) + 150;
            resize_framed(main_window_, {main_window_->width(), height});
            move_frame(main_window_, {main_window_->x(), screen_size.height() - height - 50});
        }
        SetEditMode(false);
        resize_framed(this, {panel_mrv_->width(), this->height()});
        move_frame(this, {5, y()});
    } else {
        // Windows the user placed before, and the last exit stored, stay where they were.
        image_->setFixedSize(map_model.picture_width, map_model.picture_height);
        if (!placed_from_settings_) {
            move_frame(this, {5, 5});
            fit_picture();
        }
        if (main_window_ && main_window_->placed_from_settings()) return;
    }
    if (main_window_) {
        int left = frameGeometry().width() + 5;
        if (left + main_window_->frameGeometry().width() > screen_size.width())
            left = screen_size.width() - main_window_->frameGeometry().width();
        move_frame(main_window_, {left, main_window_->y()});
    }
}

void TFormMap::fit_picture() {
    // Before the window manager has framed the window its frame is unknown; allow for a title
    // bar and borders of a usual size.
    const QSize USUAL_FRAME(10, 40);
    QSize frame = frameGeometry().size() - geometry().size();
    if (frame.isNull()) frame = USUAL_FRAME;
    const int scroll_border = 2 * scroll_->frameWidth();
    const QWidget* sequence_panel = findChild<QWidget*>("Panel1");
    const QSize whole(sequence_panel->width() + scroll_border + map_model.picture_width,
                      menuBar()->sizeHint().height() + statusBar()->sizeHint().height() +
                          scroll_border + map_model.picture_height);
    const QRect screen_area = screen()->availableGeometry();
    const QSize room(screen_area.right() + 1 - frameGeometry().left() - frame.width(),
                     screen_area.bottom() + 1 - frameGeometry().top() - frame.height());
    resize_framed(this, whole.boundedTo(room));
}

void TFormMap::ItemLoadbitmapClick() {
    FileDialogRequest request;
    request.object_name = "OpenDialogBitmap";
    request.filter = "Bitmap files (*.bmp)|*.bmp|Windows metafiles (*.wmf)|*.wmf";
    request.default_suffix = "bmp";
    request.file_name = from_local(map_model.picture_file);
    if (map_model.picture_file.empty() && !app_state.control_file_name.isEmpty())
        request.directory = QFileInfo(app_state.control_file_name).absolutePath();
    request.must_exist = true;
    const QString chosen = dialog_host().choose_file(request);
    if (chosen.isEmpty()) return;
    map_model.picture_file = local_path(chosen);
    if (LoadMap()) RedrawMap();
    note_edit();
}

// ---- graphics environment file
// --------------------------------------------------------------------

void TFormMap::ForgetJunction() {
    // The editor points into the polygon lists that go now.
    const bool edit_mode = map_editor.edit_mode;
    map_editor = MapEditor{};
    map_editor.edit_mode = edit_mode;
    map_model = MapModel{};
    background_ = QImage();
    for (LightDisc* disc : image_->findChildren<LightDisc*>()) delete disc;
    remembered_disc_ = nullptr;
    image_->setFixedSize(map_model.picture_width, map_model.picture_height);
    panel_seq_pict_->hide();
    RedrawMap();
    reset_undo();
}

bool TFormMap::LoadGraphics() {
    MapGraphicsSink sink(this, app_state.title);
    const bool read = ruvalda::LoadGraphics(map_model, stream_glyphs, engine.output,
                                            local_path(app_state.control_file_name), sink);
    if (read) RedrawMap();
    reset_undo();
    return read;
}

bool TFormMap::SaveGraphics() {
    std::vector<SavedControl> controls;
    for (QWidget* control : picture_controls()) {
        SavedControl saved;
        const PlacedControl placed = placed_control(control);
        saved.disc = placed.disc;
        saved.tag = placed.tag;
        saved.left = control->x();
        saved.top = control->y();
        saved.width = control->width();
        saved.height = control->height();
        controls.push_back(saved);
    }
    const bool saved = ruvalda::SaveGraphics(map_model, stream_glyphs, engine.output,
                                             local_path(app_state.control_file_name), controls);
    if (saved) {
        map_model.unsaved = false;
        reset_undo();
    }
    return saved;
}

void TFormMap::ItemLoadGraphicsEnvironmentClick() {
    if (AskSaveGraphics()) return;
    LoadGraphics();
    map_model.unsaved = false;
}

void TFormMap::ItemSaveGraphicsEnvironmentClick() {
    SaveGraphics();
}

bool TFormMap::AskSaveGraphics() {
    while (map_model.unsaved) {
        const auto answer =
            show_message(QMessageBox::Warning, "Unsaved work",
                         "Changed graphics environment has not been saved\r\nSave changes ?",
                         QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        if (answer == QMessageBox::Cancel) return true;
        if (answer == QMessageBox::No) return false;
        SaveGraphics();
    }
    return false;
}

void TFormMap::SetEditMode(bool on) {
    ruvalda::SetEditMode(map_editor, *editor_view_, on);
    if (!on && RVGetTime(engine) == 0)
        for (DetectorBox* box : image_->findChildren<DetectorBox*>()) box->setChecked(false);
    edit_menu_->setEnabled(on);
    update_undo_item();
}

// ---- sequence panels ----------------------------------------------------------------------------

void TFormMap::draw_sequence() {
    if (!DrawSequence(stream_glyphs, sequence_display, sequence_model, engine, image_->height()))
        return;
    panel_seq_pict_->setFixedHeight(sequence_display.panel_height);
    panel_mrv_->move(0, sequence_display.label_panel_top);
    panel_seq_pict_->show();
    for (QObject* child : panel_seq_pict_->children()) {
        const QVariant tag = child->property("tag");
        if (tag.isValid() && tag.toInt() >= 0 && tag.toInt() <= 9) delete child;
    }
    for (std::size_t j = 0; j < sequence_display.blocks.size(); ++j) {
        const SequenceBlock& block = sequence_display.blocks[j];
        auto* picture = new QLabel(panel_seq_pict_);
        picture->setObjectName(QString("SequencePicture%1").arg(j));
        picture->setProperty("tag", static_cast<int>(j));
        picture->setGeometry(SEQ_PICTURE_LEFT, block.top, SEQ_PICTURE_SIZE, SEQ_PICTURE_SIZE);
        picture->setPixmap(block_picture(block.picture));
        QString served;
        for (int stream : block.streams) served += QString::asprintf(" %02d", stream);
        picture->setToolTip(
            QString("Block %1: streams%2").arg(QChar('A' + static_cast<int>(j))).arg(served));
        picture->show();
        auto* frame = new QFrame(panel_seq_pict_);
        frame->setObjectName(QString("SequenceFrame%1").arg(j));
        frame->setProperty("tag", static_cast<int>(j) + 100);
        frame->setFrameShape(QFrame::Box);
        frame->setFrameShadow(QFrame::Raised);
        frame->setLineWidth(2);
        frame->setGeometry(SEQ_FRAME_LEFT, block.top - 5, SEQ_FRAME_SIZE, SEQ_FRAME_SIZE);
        frame->hide();
    }
    refresh_sequence();
}

void TFormMap::refresh_sequence() {
    sequence_dirty_ = false;
    QFont font("Courier New", 10, QFont::Bold);
    font.setStyleHint(QFont::Monospace);
    for (int stream = 0; stream < MAP_STREAMS; ++stream) {
        const SequenceLabel& label = sequence_display.labels[static_cast<std::size_t>(stream)];
        QLabel*& shown = labels_[static_cast<std::size_t>(stream)];
        if (!label.exists) continue;
        if (!shown) {
            shown = new QLabel(panel_mrv_);
            shown->setObjectName(QString::asprintf("MRVLabel%02d", stream));
            shown->setFont(font);
            shown->setFixedSize(SEQ_LABEL_WIDTH, sequence_display.label_height);
        }
        shown->setText(QString::fromStdString(label.caption));
        shown->setStyleSheet(label.red ? "color: rgb(255,0,0)" : "color: black");
        shown->move(SEQ_LABEL_LEFT, label.top);
        shown->setVisible(label.visible);
    }
    for (QFrame* frame : panel_seq_pict_->findChildren<QFrame*>()) {
        const int tag = frame->property("tag").toInt();
        if (tag >= 100)
            frame->setVisible(sequence_display.frame_visible[static_cast<std::size_t>(tag - 100)]);
    }
}

// ---- placement
// -----------------------------------------------------------------------------------

void TFormMap::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (first_show_) {
        first_show_ = false;
        FormShow();
    }
}

void TFormMap::FormShow() {
    placed_from_settings_ = read_window_position(this, "Map");
}

void TFormMap::FormDestroy() {
    if (destroyed_) return;
    destroyed_ = true;
    write_window_position(this, "Map", app_state.title);
}

}  // namespace ruvalda
