// The map window: the junction's picture with stream colours and detector boxes.
#pragma once

#include <QMainWindow>
#include <array>

namespace ruvalda {

class TFormMap : public QMainWindow {
  public:
    explicit TFormMap(QWidget* parent = nullptr);

    // The engine's colour callback: remembers the stream's colour letter.
    void UpdateColor(int stream, char letter);
    // After a control file is loaded: the stream menus and detector boxes.
    void BuildStreamMenus();
    // Reads the graphics environment file beside the control file.
    bool LoadGraphics();
    // True when the user cancelled closing because of unsaved graphics.
    bool AskSaveGraphics();
    void SetEditMode(bool on);

    bool edit_mode() const { return edit_mode_; }
    char colour_letter(int stream) const { return letters_[static_cast<std::size_t>(stream)]; }

  private:
    std::array<char, 100> letters_;
    bool edit_mode_ = false;
};

}  // namespace ruvalda
