#include "IconButton.h"

CIconButton::CIconButton(const QString& text, Layout layout, QWidget* parent)
    : QToolButton(parent), m_layout(layout) {
    setText(text);
    // A tool button keeps the focus frame and keyboard activation of a push
    // button, but can put its icon above the text.
    setFocusPolicy(Qt::StrongFocus);
    setAutoRaise(false);
    setIconLayout(layout);
}

void CIconButton::setIconLayout(Layout layout) {
    m_layout = layout;
    switch (layout) {
    case IconBeside:
        setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
        setIconSize(QSize(24, 24));
        break;
    case IconAbove:
        setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
        setIconSize(QSize(40, 40));
        break;
    case IconOnly:
        setToolButtonStyle(Qt::ToolButtonIconOnly);
        setIconSize(QSize(20, 20));
        break;
    }
    updateGeometry();
}

QSize CIconButton::sizeHint() const {
    // Leave room around the icon and text so that a row of buttons looks like
    // push buttons rather than a toolbar.
    QSize s = QToolButton::sizeHint();
    if (m_layout == IconOnly) return s + QSize(8, 6);
    return s + QSize(16, 8);
}
