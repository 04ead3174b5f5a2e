#pragma once

#include <QDialog>
#include <QFont>
#include <QIcon>
#include <map>

#include "app/notification_channel.hpp"
#include "app/window_controller.hpp"
#include "gui/window_layout.hpp"

class QLabel;
class QProgressBar;
class QPushButton;

namespace tapfix::gui {

// The font nearest on Linux to the one the layout was drawn for ("MS Shell Dlg" 9 pt); the
// system's sans stands in when it is missing.
QFont DialogFont();
// The dialog units of the font, measured as the platform the layout was drawn on measures them.
BaseUnits BaseUnitsOf(const QFont& font);
QIcon ProgramIcon();

// The program's only window: the controller's view in Qt Widgets. Notifications of the
// background threads reach it through the channel: a sender's wake-up queues a call on this
// window's thread, and the sender waits until the controller has handled its notification.
class CUITapfixDlg final : public QDialog, public app::View {
  public:
    explicit CUITapfixDlg(QWidget* parent = nullptr);

    // Before any sender runs, on the channel's serving thread. The window serves the channel's
    // wake-ups and feeds the controller its user's input; both must outlive every sender.
    void Attach(app::CWindowController& controller, app::CNotificationChannel& channel);

    // The widget of a control of the layout, or null.
    QWidget* Control(int id) const;
    const BaseUnits& Units() const { return units_; }

    // app::View
    void SetControlText(int control, std::string_view text) override;
    void SetCaption(std::string_view text) override;
    void EnableButton(int button, bool enabled) override;
    void ShowButton(int button, bool visible) override;
    void SetProgress(int percent) override;
    void ShowMessage(std::string_view text) override;
    bool AskYesNo(std::string_view question) override;
    void Redraw() override;
    void Close() override;

  protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void CreateControls();
    QWidget* CreateControl(const ControlLayout& layout);
    void PlaceText(QLabel& label, const ControlLayout& layout, const QString& text);
    QPushButton* Button(int id) const;

    QFont font_;
    BaseUnits units_;
    std::map<int, QWidget*> controls_;
    QProgressBar* progress_ = nullptr;
    app::CWindowController* controller_ = nullptr;
    bool closeApproved_ = false;
};

}  // namespace tapfix::gui
