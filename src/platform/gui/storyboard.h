// The window and its storyboard: which screens exist, the segues between them, and the swap itself.
#pragma once

#include <QList>
#include <QMainWindow>
#include <QString>

#include <functional>
#include <memory>

namespace vennacott {

class ViewControllerBase;

struct Storyboard
{
    struct Segue
    {
        QString identifier;
        QString from;
        QString to;
    };

    QString initialScreen;
    QList<Segue> segues;
    // A fresh controller with the screen's widgets loaded and its outlets connected.
    std::function<std::shared_ptr<ViewControllerBase>(const QString &screen)> instantiate;

    // The screen a segue leads to from `from`, or the empty text when the storyboard has no such segue.
    QString destination(const QString &identifier, const QString &from) const;
};

// Shows one screen at a time; each segue swaps in a fresh controller for its destination.
class StoryboardWindow final : public QMainWindow
{
    Q_OBJECT
public:
    explicit StoryboardWindow(Storyboard storyboard, QWidget *parent = nullptr);
    ~StoryboardWindow() override;

    void showInitialScreen();
    // Shows `screen` afresh, without a segue: for a change that did not come from the screen shown.
    void showScreen(const QString &screen);
    void performSegue(const QString &identifier, ViewControllerBase &source);

    std::shared_ptr<ViewControllerBase> currentController() const { return m_current; }
    QString currentScreen() const;

    // A window that is not resizable keeps the size of its content; every other window property stays.
    bool isResizable() const { return m_resizable; }
    void setResizable(bool resizable);
    // Fits the window to its content again: for a line at its foot that was shown or hidden.
    void fitContent();

Q_SIGNALS:
    void screenShown(const QString &screen);

protected:
    // Fits the window to its content again when shown: a menu bar added after loading takes room too.
    void showEvent(QShowEvent *event) override;
    // The window's own close button asks the application whether it may terminate, like Quit does.
    void closeEvent(QCloseEvent *event) override;

private:
    void present(std::shared_ptr<ViewControllerBase> controller);

    Storyboard m_storyboard;
    std::shared_ptr<ViewControllerBase> m_current;
    bool m_resizable = true;
};

} // namespace vennacott
