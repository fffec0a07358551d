// A push button that shows an icon to the left of its text, above it, or
// alone. The platform style draws the frame, so a themed desktop gets themed
// buttons without any work here.
#pragma once

#include <QToolButton>

class CIconButton : public QToolButton {
    Q_OBJECT
public:
    enum Layout { IconBeside, IconAbove, IconOnly };

    explicit CIconButton(const QString& text, Layout layout = IconBeside,
                         QWidget* parent = nullptr);

    void setIconLayout(Layout layout);
    Layout iconLayout() const { return m_layout; }

    QSize sizeHint() const override;

private:
    Layout m_layout;
};
