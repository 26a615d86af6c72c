// The map window: the junction's picture with every stream's polygons and light disc in its
// colour, a check box per detector, and on the left the sequence diagram.
#pragma once

#include <QMainWindow>
#include <QPoint>
#include <vector>

#include "controller/controller.h"
#include "gui/app_state.h"
#include "gui/map_undo.h"
#include "map/map_editor.h"
#include "map/map_model.h"

class QAction;
class QLabel;
class QMenu;
class QMouseEvent;
class QScrollArea;

namespace ruvalda {

class DetectorBox;
class LightDisc;
class MapImage;
class MapEditorView;
class TFormMain;

// The junction this desktop runs, under the names of its parts.
class TFormMap : public QMainWindow, private ControllerParts {
    AppState& app_state;   // what every window reads of the application
    MapEditor map_editor;  // the editing going on in this window

  public:
    TFormMap(Controller& controller, AppState& app_state, QWidget* parent = nullptr);
    ~TFormMap() override;

    // The main window, for placing it and for telling whether the simulation runs.
    void set_main_window(TFormMain* main_window) { main_window_ = main_window; }

    // The engine's colour callback: remembers the letter and repaints the stream.
    void UpdateColor(int stream, char letter);
    void RedrawMap();
    // After a control file is loaded: stream menus, detector boxes, no discs.
    void BuildStreamMenus();
    bool SetDetectorCheckBox(int detector, int x, int y, bool complain, int state);
    // Ticks the boxes of the occupied detectors and only those.
    void show_detector_states();
    bool LoadMap();
    void ArrangeWindows(bool simulator_run);
    // Sizes the window to show the whole picture beside the sequence panel, as far as the
    // screen allows.
    void fit_picture();
    // Reads and writes the graphics environment file beside the control file.
    bool LoadGraphics();
    // Forgets the drawing of the junction shown so far (picture, polygons, discs, placements,
    // sequence pictures), before another junction's program is loaded: nothing of one junction
    // may be shown with, or saved into the file of, another.
    void ForgetJunction();
    bool SaveGraphics();
    // True when the user cancelled because of unsaved graphics.
    bool AskSaveGraphics();
    void SetEditMode(bool on);

    void ItemLoadbitmapClick();
    void ItemLoadGraphicsEnvironmentClick();
    void ItemSaveGraphicsEnvironmentClick();
    void ItemDeleteTrafficLightDiscClick();
    // Edit > Undo (Ctrl+Z): the drawing as it was before the last edit since the last load or
    // save; an edit going on is ended first and is the one undone.
    void ItemUndoClick();
    void FormShow();
    void FormDestroy();

    LightDisc* new_light_disc(int stream, int x, int y);
    DetectorBox* new_detector_box(int detector, int left, int top);

    bool edit_mode() const;
    char colour_letter(int stream) const {
        return map_model.colour[static_cast<std::size_t>(stream)];
    }
    MapImage* image() const { return image_; }
    // Draws the sequence pictures and labels for the picture just loaded.
    void draw_sequence();
    // The sequence panels follow the sequence display after evaluations; this brings them up
    // to date now.
    void refresh_sequence();

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    friend class MapEditorView;
    void build_menus();
    void fill_stream_menu(QMenu* menu, bool disc);
    void paint_stream(int stream, char letter);
    void connect_disc(LightDisc* disc);
    void connect_box(DetectorBox* box);
    std::vector<QWidget*> picture_controls() const;
    MapSnapshot snapshot() const;
    void restore(const MapSnapshot& drawing);
    // After a mouse or menu action that may have changed the drawing.
    void note_edit();
    // After a load or save: nothing to undo.
    void reset_undo();
    void update_undo_item();
    bool simulation_running() const;

    TFormMain* main_window_ = nullptr;
    MapImage* image_ = nullptr;
    QScrollArea* scroll_ = nullptr;
    QWidget* panel_seq_pict_ = nullptr;
    QWidget* panel_mrv_ = nullptr;
    std::vector<QLabel*> labels_;  // per stream 0..99, made once
    QLabel* status_ = nullptr;
    QMenu* edit_menu_ = nullptr;
    QMenu* add_polygon_ = nullptr;
    QMenu* add_disc_ = nullptr;
    QMenu* popup_map_ = nullptr;
    QMenu* popup_add_polygon_ = nullptr;
    QMenu* popup_add_disc_ = nullptr;
    QMenu* popup_disc_ = nullptr;
    QAction* item_finish_polygon_ = nullptr;
    QAction* item_delete_polygon_ = nullptr;
    QAction* item_undo_ = nullptr;
    MapUndo undo_;
    QImage background_;
    LightDisc* remembered_disc_ = nullptr;
    MapEditorView* editor_view_ = nullptr;
    bool first_show_ = true;
    bool placed_from_settings_ = false;  // a stored size is the user's; else fit the picture
    bool destroyed_ = false;
    bool sequence_dirty_ = false;
    bool right_click_ends_polygon_ = false;  // the press's context menu is not shown
};

}  // namespace ruvalda
