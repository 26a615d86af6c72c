#include "gui/select_formula.h"

#include <QComboBox>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>
#include <string>
#include <vector>

#include "engine/eval.h"
#include "gui/app_state.h"
#include "gui/dialog_host.h"
#include "gui/identification.h"
#include "traceset/trace_set.h"

namespace ruvalda {

namespace {

const char* const FILTER_TRACE_SET = "Ruvalda Trace Set|*.rts";

std::string local_path(const QString& name) {
    return name.toLocal8Bit().toStdString();
}

}  // namespace

TFormSelectFormula::TFormSelectFormula(EngineState& engine, AppState& app_state,
                                       QWidget* main_window)
    : QDialog(main_window), engine(engine), app_state(app_state), main_window_(main_window) {
    setObjectName("TFormSelectFormula");
    setWindowTitle("Select formula");

    variables_ = new QComboBox(this);
    variables_->setObjectName("ComboBoxVariables");
    variables_->setMaxVisibleItems(30);
    // Items are short dump lines; a long one must not widen the dialog.
    variables_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    variables_->setMinimumContentsLength(16);
    setting_ = new QComboBox(this);
    setting_->setObjectName("ComboBoxSetting");
    setting_->addItems({"Not traced", "Trace changes", "Trace all evaluations"});
    close_ = new QPushButton("&Close", this);
    close_->setObjectName("BitBtnOK");
    auto* save = new QPushButton("Save ...", this);
    save->setObjectName("BitBtnSaveTraces");
    auto* load = new QPushButton("Load ...", this);
    load->setObjectName("BitBtnLoad");

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(close_);
    buttons->addWidget(save);
    buttons->addWidget(load);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(variables_);
    layout->addWidget(setting_);
    layout->addLayout(buttons);
    resize(358, 127);

    // Only the user's choices count: the setting box is also changed by the program, which must
    // not write that back into the variable.
    connect(variables_, &QComboBox::activated, this, [this] { ComboBoxVariablesChange(); });
    connect(setting_, &QComboBox::activated, this, [this] { ComboBoxSettingChange(); });
    connect(close_, &QPushButton::clicked, this, [this] { BitBtnOKClick(); });
    connect(save, &QPushButton::clicked, this, [this] { BitBtnSaveTracesClick(); });
    connect(load, &QPushButton::clicked, this, [this] { BitBtnLoadClick(); });

    setProperty("hint", QString::fromStdString(window_hint(Unit::TraceDialog)));
}

void TFormSelectFormula::showEvent(QShowEvent* event) {
    if (main_window_) {
        QRect frame(QPoint(0, 0), frameGeometry().size());
        frame.moveCenter(main_window_->frameGeometry().center());
        move(frame.topLeft());
    }
    FormShow();
    QDialog::showEvent(event);
}

void TFormSelectFormula::FormShow() {
    setting_->setEnabled(false);
    setting_->setCurrentIndex(-1);
    variables_->clear();
    for (const std::string& item : trace_items(engine))
        variables_->addItem(QString::fromLatin1(item));
    const int count = variables_->count();
    close_->setEnabled(count > 0);
    if (count > 0) {
        variables_->setCurrentIndex(0);
        for (int i = count - 1; i >= 0; --i) {
            if (variables_->itemText(i) == rememberedVariable) {
                variables_->setCurrentIndex(i);
                break;
            }
        }
    }
    ComboBoxVariablesChange();
}

bool TFormSelectFormula::selected_name(std::string* name) const {
    if (variables_->currentIndex() < 0) return false;
    *name = trace_item_name(variables_->currentText().toLatin1().toStdString());
    return true;
}

void TFormSelectFormula::ComboBoxVariablesChange() {
    std::string name;
    const bool selected = selected_name(&name);
    setting_->setCurrentIndex(
        selected ? trace_setting_index(RVGetVariableTrace(engine, name.c_str())) : -1);
    setting_->setEnabled(selected);
}

void TFormSelectFormula::ComboBoxSettingChange() {
    const int value = trace_setting_value(setting_->currentIndex());
    std::string name;
    if (selected_name(&name)) RVSetVariableTrace(engine, name.c_str(), value);
    rememberedVariable = variables_->currentIndex() >= 0 ? variables_->currentText() : QString();
}

QString TFormSelectFormula::initial_directory(QString& kept) const {
    if (kept.isEmpty() && !app_state.control_file_name.isEmpty())
        kept = QFileInfo(app_state.control_file_name).absolutePath();
    return kept;
}

void TFormSelectFormula::BitBtnSaveTracesClick() {
    FileDialogRequest request;
    request.object_name = "SaveDialog";
    request.filter = FILTER_TRACE_SET;
    request.file_name =
        QString::fromLocal8Bit(trace_set_file_for(local_path(app_state.control_file_name)));
    request.directory = initial_directory(save_directory_);
    request.save = true;
    request.confirm_overwrite = true;
    const QString chosen = dialog_host().choose_file(request);
    if (chosen.isEmpty()) return;

    std::vector<TraceSetting> settings;
    for (int i = 0; i < variables_->count(); ++i) {
        TraceSetting setting;
        setting.name = trace_item_name(variables_->itemText(i).toLatin1().toStdString());
        setting.bits = RVGetVariableTrace(engine, setting.name.c_str());
        settings.push_back(std::move(setting));
    }
    // A set that cannot be written is not worth interrupting the debugging for.
    write_trace_set_file(local_path(chosen), build_trace_set(settings));
}

void TFormSelectFormula::BitBtnLoadClick() {
    FileDialogRequest request;
    request.object_name = "OpenDialog";
    request.filter = FILTER_TRACE_SET;
    request.file_name =
        QString::fromLocal8Bit(trace_set_file_for(local_path(app_state.control_file_name)));
    request.directory = initial_directory(open_directory_);
    request.must_exist = true;
    const QString chosen = dialog_host().choose_file(request);
    if (chosen.isEmpty()) return;

    std::string text;
    if (!read_trace_set_file(local_path(chosen), &text)) {
        show_message(QMessageBox::NoIcon, "Error", "Cannot open file \"" + chosen + "\"",
                     QMessageBox::Ok);
        return;
    }
    // The setting box is left as it is: the new bits show at the next selection or showing.
    for (const TraceSetLine& line : parse_trace_set(text)) {
        if (apply_trace_setting(engine, line)) continue;
        show_message(
            QMessageBox::NoIcon, "Error",
            QString("Bad setting \"%1\"(%2) (\"%3\"")
                .arg(chosen, QString::number(line.number), QString::fromLocal8Bit(line.text)),
            QMessageBox::Ok);
    }
}

void TFormSelectFormula::BitBtnOKClick() {
    hide();
}

}  // namespace ruvalda
