#include "AboutDlg.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>

CAboutDlg::CAboutDlg(const QIcon& icon, std::function<void()> openHelp, QWidget* parent)
    : QDialog(parent) {
    setObjectName(QStringLiteral("aboutBox"));
    setWindowTitle(QStringLiteral("About..."));
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);

    auto* picture = new QLabel;
    picture->setPixmap(icon.pixmap(48, 48));
    auto* name = new QLabel(QStringLiteral("Krellix Varnel"));
    name->setObjectName(QStringLiteral("aboutName"));
    QFont bold = name->font();
    bold.setBold(true);
    name->setFont(bold);
    auto* version = new QLabel(QStringLiteral("Version: 9.1.0"));
    version->setObjectName(QStringLiteral("aboutVersion"));

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok);
    auto* help = buttons->addButton(QStringLiteral("Help"), QDialogButtonBox::HelpRole);
    help->setObjectName(QStringLiteral("aboutHelp"));
    help->setAutoDefault(false);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    // The help page opens beside the box; the box stays until dismissed.
    connect(help, &QPushButton::clicked, this, [openHelp] {
        if (openHelp) openHelp();
    });

    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(18, 18, 18, 12);
    grid->setHorizontalSpacing(18);
    grid->setVerticalSpacing(6);
    grid->addWidget(picture, 0, 0, 2, 1, Qt::AlignTop);
    grid->addWidget(name, 0, 1);
    grid->addWidget(version, 1, 1);
    grid->setRowMinimumHeight(2, 12);
    grid->addWidget(buttons, 3, 0, 1, 2);
    grid->setColumnStretch(1, 1);
    grid->setColumnMinimumWidth(1, 240);
    grid->setSizeConstraint(QLayout::SetFixedSize);
}
