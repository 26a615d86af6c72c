#include "gui/gui_front_end.h"

#include <QCoreApplication>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTimer>

#include "engine/eval.h"
#include "gui/dialog_host.h"

namespace ruvalda {

bool GuiFrontEnd::show_report(const Report& report) {
    MessageBoxRequest box;
    box.caption = QString::fromStdString(report.caption);
    box.text = QString::fromStdString(report.box_text);
    if (report.kind == PROGRAM_ERROR) {
        box.icon = QMessageBox::Warning;
        box.buttons = QMessageBox::Ok;
    } else {
        box.icon = QMessageBox::Question;
        box.buttons = QMessageBox::Yes | QMessageBox::No;
    }
    const bool go_on = dialog_host().message_box(box) != QMessageBox::No;
    // The box goes when it is answered; the pane keeps what it said.
    traceprintf(output_, "%s\n", report.text.c_str());
    // The core records the request to end after this returns; look at it from the event loop,
    // so the operation that reported still finishes first.
    QTimer::singleShot(0, QCoreApplication::instance(), [&output = output_, end = end_application] {
        if (output.end_requested && end) end();
    });
    return go_on;
}

MemoPaneView::MemoPaneView(OutputState& output, QPlainTextEdit* memo, QLabel* status_panel)
    : output_(output), memo_(memo), status_panel_(status_panel) {}

void MemoPaneView::show_all() {
    QStringList lines;
    for (const std::string& line : output_.pane.lines) lines << QString::fromStdString(line);
    memo_->setPlainText(lines.join('\n'));
    if (status_panel_) status_panel_->setText(QString::fromStdString(output_.pane.status_text));
    caret_to_end();
}

void MemoPaneView::line_added(const std::string& line) {
    // The model holds one line more than before; an empty document is one empty block.
    if (output_.pane.lines.size() == 1)
        memo_->setPlainText(QString::fromStdString(line));
    else
        memo_->appendPlainText(QString::fromStdString(line));
    caret_to_end();
}

void MemoPaneView::last_line_changed(const std::string& line) {
    QTextCursor cursor(memo_->document());
    cursor.movePosition(QTextCursor::End);
    cursor.movePosition(QTextCursor::StartOfBlock, QTextCursor::KeepAnchor);
    cursor.insertText(QString::fromStdString(line));
    caret_to_end();
}

void MemoPaneView::first_lines_removed(std::size_t count) {
    if (output_.pane.lines.empty()) {
        memo_->clear();
    } else {
        QTextCursor cursor(memo_->document());
        cursor.movePosition(QTextCursor::Start);
        cursor.movePosition(QTextCursor::NextBlock, QTextCursor::KeepAnchor,
                            static_cast<int>(count));
        cursor.removeSelectedText();
    }
    caret_to_end();
}

void MemoPaneView::cleared() {
    memo_->clear();
}

void MemoPaneView::status_changed(const std::string& text) {
    // The rate has its own field beside this one.
    if (is_rate_text(text)) return;
    if (status_panel_) status_panel_->setText(QString::fromStdString(text));
}

void MemoPaneView::caret_to_end() {
    // A busy step writes many lines; the caret and the scroll position are set once, when
    // control is back in the event loop, which is also the first moment anything is painted.
    if (caret_pending_) return;
    caret_pending_ = true;
    QTimer::singleShot(0, memo_, [this] {
        caret_pending_ = false;
        QTextCursor cursor = memo_->textCursor();
        cursor.movePosition(QTextCursor::End);
        memo_->setTextCursor(cursor);
        memo_->verticalScrollBar()->setValue(memo_->verticalScrollBar()->maximum());
        // The pane does not wrap; a long last line must not scroll the time column away.
        memo_->horizontalScrollBar()->setValue(0);
    });
}

}  // namespace ruvalda
