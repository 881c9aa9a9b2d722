#include "window/AboutWindow.h"

#include "base/Version.h"
#include "window/Icons.h"

#include <QEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

AboutWindow::AboutWindow(QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("frmAbout"));
    setWindowTitle(QStringLiteral("About ") + QLatin1String(Version::kTitle));
    setWindowIcon(Icons::program());

    imgIcon = new QLabel(this);
    imgIcon->setObjectName(QStringLiteral("imgIcon"));
    imgIcon->setPixmap(Icons::pixmap(Icons::program(), 48, devicePixelRatioF()));
    imgIcon->setAlignment(Qt::AlignTop);
    imgIcon->setToolTip(QStringLiteral("Double-click to close"));
    imgIcon->installEventFilter(this);

    lblTitle = new QLabel(QString::fromStdString(Version::caption()), this);
    lblTitle->setObjectName(QStringLiteral("lblTitle"));
    QFont titleFont = lblTitle->font();
    titleFont.setBold(true);
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.4);
    lblTitle->setFont(titleFont);

    lblProduct = new QLabel(QStringLiteral("TCP port check with ping, FTP logon, command and mail follow-ups"), this);
    lblProduct->setObjectName(QStringLiteral("lblProduct"));
    lblAuthor = new QLabel(QStringLiteral("Written by the Ostrel developers"), this);
    lblAuthor->setObjectName(QStringLiteral("lblAuthor"));

    auto *line = new QFrame(this);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);

    lblDisclaimer = new QLabel(
        QStringLiteral("Free software under the MIT License: you may use, copy, change and distribute it,\n"
                       "keeping its copyright and licence notice. It is provided as is, without warranty\n"
                       "of any kind. Use it only to check devices and networks that you are allowed to check."),
        this);
    lblDisclaimer->setObjectName(QStringLiteral("lblDisclaimer"));

    btnClose = new QPushButton(QStringLiteral("Close"), this);
    btnClose->setObjectName(QStringLiteral("btnClose"));
    btnClose->setDefault(true);
    connect(btnClose, &QPushButton::clicked, this, &QDialog::accept);

    auto *texts = new QVBoxLayout;
    texts->addWidget(lblTitle);
    texts->addWidget(lblProduct);
    texts->addWidget(lblAuthor);
    texts->addStretch();
    auto *heading = new QHBoxLayout;
    heading->addWidget(imgIcon);
    heading->addSpacing(8);
    heading->addLayout(texts, 1);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(btnClose);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(heading);
    layout->addWidget(line);
    layout->addWidget(lblDisclaimer);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

void AboutWindow::showModal(QWidget *parent)
{
    AboutWindow about(parent);
    about.exec();
}

bool AboutWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == imgIcon && event->type() == QEvent::MouseButtonDblClick) {
        accept();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}
