// The report-style input list. Reports clicks, right-clicks and the keys the
// window acts on, and refuses all user input while a conversion runs, so that
// only the runner moves the selection then.
#pragma once

#include <QTableView>
#include <functional>

class CFileListView : public QTableView {
    Q_OBJECT
public:
    explicit CFileListView(QWidget* parent = nullptr);

    // Returns true while user input is to be ignored.
    void setBusyTest(std::function<bool()> busy) { m_busy = std::move(busy); }

signals:
    void listClicked();
    void listRightClicked(const QPoint& globalPos);
    void deletePressed();
    void selectAllPressed();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    bool Busy() const { return m_busy && m_busy(); }

    std::function<bool()> m_busy;
};
