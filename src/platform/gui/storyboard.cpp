// The window and its storyboard: which screens exist, the segues between them, and the swap itself.
#include "storyboard.h"

#include "application.h"
#include "viewcontrollerbase.h"

#include <QCloseEvent>
#include <QLayout>

namespace vennacott {

QString Storyboard::destination(const QString &identifier, const QString &from) const
{
    for (const Segue &segue : segues) {
        if (segue.identifier == identifier && segue.from == from)
            return segue.to;
    }
    return QString();
}

StoryboardWindow::StoryboardWindow(Storyboard storyboard, QWidget *parent)
    : QMainWindow(parent)
    , m_storyboard(std::move(storyboard))
{}

StoryboardWindow::~StoryboardWindow()
{
    // The controller is shared with pending answers: the window gives up its share instead of deleting it.
    if (m_current) {
        takeCentralWidget();
        m_current->setParent(nullptr);
        m_current->m_window = nullptr;
    }
}

void StoryboardWindow::showInitialScreen()
{
    present(m_storyboard.instantiate(m_storyboard.initialScreen));
}

void StoryboardWindow::showScreen(const QString &screen)
{
    present(m_storyboard.instantiate(screen));
}

QString StoryboardWindow::currentScreen() const
{
    return m_current ? m_current->screen() : QString();
}

void StoryboardWindow::performSegue(const QString &identifier, ViewControllerBase &source)
{
    if (m_current.get() != &source)
        return;
    const QString to = m_storyboard.destination(identifier, source.screen());
    if (to.isEmpty()) {
        qWarning("no segue \"%s\" from screen \"%s\"", qPrintable(identifier), qPrintable(source.screen()));
        return;
    }
    present(m_storyboard.instantiate(to));
}

void StoryboardWindow::showEvent(QShowEvent *event)
{
    if (m_current)
        fitContent();
    QMainWindow::showEvent(event);
}

void StoryboardWindow::closeEvent(QCloseEvent *event)
{
    event->ignore();
    // Queued: the decision may show a modal alert, which must not run inside the close event.
    QMetaObject::invokeMethod(&Application::shared(), &Application::terminate, Qt::QueuedConnection);
}

void StoryboardWindow::setResizable(bool resizable)
{
    if (m_resizable == resizable)
        return;
    m_resizable = resizable;
    fitContent();
}

void StoryboardWindow::present(std::shared_ptr<ViewControllerBase> controller)
{
    if (!controller)
        return;
    if (m_current) {
        takeCentralWidget();
        m_current->hide();
        m_current->setParent(nullptr);
        m_current->m_window = nullptr;
    }
    m_current = std::move(controller);
    m_current->m_window = this;
    setCentralWidget(m_current.get());
    m_current->show();
    // Laid out at its own size before it loads, so the controller sees its real frame.
    fitContent();

    // The controller may ask for the next screen right away; hold on to it until it has loaded.
    const std::shared_ptr<ViewControllerBase> loading = m_current;
    loading->viewDidLoad();
    if (m_current == loading) {
        fitContent();
        Q_EMIT screenShown(loading->screen());
    }
}

void StoryboardWindow::fitContent()
{
    // The screen's own layout first, so that fonts and sizes its controller just set count at once.
    if (QWidget *content = centralWidget(); content && content->layout())
        content->layout()->activate();
    setMinimumSize(0, 0);
    setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    adjustSize();
    // Lays the content out now, also before the window is first shown.
    layout()->invalidate();
    layout()->activate();
    if (!m_resizable)
        setFixedSize(size());
}

} // namespace vennacott
