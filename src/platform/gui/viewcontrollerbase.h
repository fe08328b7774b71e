// A screen's controller: the widgets of one screen, loaded into a fresh instance for each visit.
#pragma once

#include <QPointer>
#include <QSize>
#include <QString>
#include <QWidget>

#include <memory>

namespace vennacott {

class StoryboardWindow;

// Controllers are shared: a window holds the one it shows, and a pending answer from the network holds
// the one that asked, so neither outlives the other's use. The last owner hands it to the GUI thread's
// event loop for deletion, whichever thread lets go.
class ViewControllerBase : public QWidget, public std::enable_shared_from_this<ViewControllerBase>
{
    Q_OBJECT
public:
    explicit ViewControllerBase(QWidget *parent = nullptr);
    ~ViewControllerBase() override;

    // The screen this instance serves, as named in the storyboard.
    QString screen() const { return m_screen; }

    // The window that shows this controller, or null while it is in none (before loading, after leaving).
    StoryboardWindow *storyboardWindow() const;

    // Moves the window to the other end of the segue. Does nothing unless this controller is the one its
    // window shows: a late answer for a screen already left must not move the window.
    void performSegue(const QString &identifier);

    QSize preferredContentSize() const { return m_preferredContentSize; }
    void setPreferredContentSize(QSize size) { m_preferredContentSize = size; }

    // Called once, on the GUI thread, after the screen's widgets are loaded and shown in the window.
    virtual void viewDidLoad() {}

    // Called by the storyboard once the widgets of `screen` have been created inside this controller.
    void didLoadScreen(const QString &screen);

    // Creates a controller whose deleter defers destruction to the GUI thread.
    template<typename Controller>
    static std::shared_ptr<Controller> create()
    {
        return std::shared_ptr<Controller>(new Controller, [](Controller *controller) { controller->deleteLater(); });
    }

protected:
    // Looks up the outlets by object name once the screen's widgets exist; missing ones stay null.
    virtual void connectOutlets() {}

private:
    friend class StoryboardWindow;
    QString m_screen;
    QPointer<StoryboardWindow> m_window;
    QSize m_preferredContentSize;
};

} // namespace vennacott
