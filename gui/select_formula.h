// The trace-variable dialog: chooses per variable how the engine traces it, and saves and
// loads these choices as a trace-set file.
#pragma once

#include <QDialog>
#include <QString>

#include "engine/eval.h"
#include "gui/app_state.h"

class QComboBox;
class QPushButton;

namespace ruvalda {

class TFormSelectFormula : public QDialog {
    EngineState& engine;  // whose variables the dialog sets
    AppState& app_state;

  public:
    // Centred on main_window whenever it is shown.
    TFormSelectFormula(EngineState& engine, AppState& app_state, QWidget* main_window);

    // The variable whose setting was changed last; reselected at the next showing.
    QString rememberedVariable;

    // Window events; public so that tests can raise them as the toolkit would.
    void FormShow();
    void ComboBoxVariablesChange();
    void ComboBoxSettingChange();
    void BitBtnSaveTracesClick();
    void BitBtnLoadClick();
    void BitBtnOKClick();

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    // The name of the selected variable; false when none is selected.
    bool selected_name(std::string* name) const;
    // The initial folder of a file dialog: kept once set, the control file's folder until then.
    QString initial_directory(QString& kept) const;

    QWidget* main_window_;
    QComboBox* variables_;
    QComboBox* setting_;
    QPushButton* close_;
    QString save_directory_;
    QString open_directory_;
};

}  // namespace ruvalda
