// A screen's controller: the widgets of one screen, loaded into a fresh instance for each visit.
#include "viewcontrollerbase.h"

#include "storyboard.h"

namespace vennacott {

ViewControllerBase::ViewControllerBase(QWidget *parent)
    : QWidget(parent)
{}

ViewControllerBase::~ViewControllerBase() = default;

StoryboardWindow *ViewControllerBase::storyboardWindow() const
{
    return m_window;
}

void ViewControllerBase::didLoadScreen(const QString &screen)
{
    m_screen = screen;
    connectOutlets();
}

void ViewControllerBase::performSegue(const QString &identifier)
{
    if (m_window)
        m_window->performSegue(identifier, *this);
}

} // namespace vennacott
