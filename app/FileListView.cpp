#include "FileListView.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>

CFileListView::CFileListView(QWidget* parent) : QTableView(parent) {
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setShowGrid(false);
    setWordWrap(false);
    // A long path keeps its file name in view; the tooltip shows all of it.
    setTextElideMode(Qt::ElideMiddle);
    setSortingEnabled(false);
    setTabKeyNavigation(false);
    setAlternatingRowColors(false);
    setContextMenuPolicy(Qt::PreventContextMenu);
    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    horizontalHeader()->setSectionsClickable(false);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setStretchLastSection(false);
    horizontalHeader()->setDefaultAlignment(Qt::AlignCenter);
    // The selection stays as visible without focus as with it.
    QPalette p = palette();
    p.setColor(QPalette::Inactive, QPalette::Highlight,
               p.color(QPalette::Active, QPalette::Highlight));
    p.setColor(QPalette::Inactive, QPalette::HighlightedText,
               p.color(QPalette::Active, QPalette::HighlightedText));
    setPalette(p);
}

void CFileListView::keyPressEvent(QKeyEvent* event) {
    if (Busy()) {
        event->accept();
        return;
    }
    if (event->key() == Qt::Key_Delete) {
        emit deletePressed();
        event->accept();
        return;
    }
    if (event->key() == Qt::Key_A && (event->modifiers() & Qt::ControlModifier)) {
        emit selectAllPressed();
        event->accept();
        return;
    }
    QTableView::keyPressEvent(event);
}

void CFileListView::mousePressEvent(QMouseEvent* event) {
    if (Busy()) {
        event->accept();
        return;
    }
    QTableView::mousePressEvent(event);
    if (event->button() == Qt::RightButton)
        emit listRightClicked(event->globalPosition().toPoint());
}

void CFileListView::mouseReleaseEvent(QMouseEvent* event) {
    if (Busy()) {
        event->accept();
        return;
    }
    QTableView::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton) emit listClicked();
}

void CFileListView::mouseDoubleClickEvent(QMouseEvent* event) {
    if (Busy()) {
        event->accept();
        return;
    }
    QTableView::mouseDoubleClickEvent(event);
}

void CFileListView::mouseMoveEvent(QMouseEvent* event) {
    // Dragging a selection counts as input too.
    if (Busy()) {
        event->accept();
        return;
    }
    QTableView::mouseMoveEvent(event);
}
