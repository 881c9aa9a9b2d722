#include "window/frmOstrel.h"

#include "base/TextRules.h"
#include "base/Version.h"
#include "qt/EventWait.h"
#include "qt/Utf8.h"
#include "window/AboutWindow.h"
#include "window/Accessibility.h"
#include "window/FieldFocus.h"
#include "window/Icons.h"
#include "window/IndicatorStyle.h"
#include "window/KeyPreview.h"
#include "window/PushButton.h"
#include "window/ServiceList.h"
#include "window/Twips.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QRadioButton>
#include <QScrollBar>
#include <limits>

namespace {

constexpr qint32 kDesignWidth = 6270;
constexpr qint32 kDesignHeight = 5955;
constexpr int kLightSize = 32;

// The layout is measured for a small dialog font; a narrow face keeps every
// caption inside its design width.
QFont designFont()
{
    QFont font;
    font.setFamilies({ QStringLiteral("DejaVu Sans Condensed"), QStringLiteral("DejaVu Sans") });
    font.setPixelSize(10);
    return font;
}

template <typename Control>
Control *place(QWidget *container, const char *name, qint32 left, qint32 top, qint32 width, qint32 height)
{
    auto *control = new Control(container);
    control->setObjectName(QLatin1String(name));
    control->setGeometry(Twips::rect(left, top, width, height));
    return control;
}

QLabel *placeLabel(
    QWidget *container, const char *name, const char *caption, qint32 left, qint32 top, qint32 width, qint32 height)
{
    auto *label = place<QLabel>(container, name, left, top, width, height);
    label->setText(QLatin1String(caption));
    return label;
}

template <typename Button>
Button *placeButton(
    QWidget *container, const char *name, const char *caption, qint32 left, qint32 top, qint32 width, qint32 height)
{
    auto *button = place<Button>(container, name, left, top, width, height);
    button->setText(QLatin1String(caption));
    return button;
}

QLabel *placeLight(QWidget *container, const char *name, const QIcon &icon)
{
    auto *light = place<QLabel>(container, name, 1020, 240, 480, 480);
    light->setPixmap(Icons::pixmap(icon, kLightSize, container->devicePixelRatioF()));
    light->hide();
    return light;
}

// As in any dialog, Tab enters an option group at its selected button and
// the arrow keys move within the group.
void tabStopOnSelected(QButtonGroup *group)
{
    const auto update = [group] {
        for (QAbstractButton *button : group->buttons())
            button->setFocusPolicy(button->isChecked() ? Qt::StrongFocus : Qt::ClickFocus);
    };
    update();
    QObject::connect(group, &QButtonGroup::buttonToggled, group, update);
}

// A pair of trigger options ("OK" passes, "N/A" fails) in a container of
// its own, so each pair is a group apart from every other option.
std::array<QRadioButton *, 2> placeTriggerPair(QWidget *picture, const char *okName, const char *failName)
{
    std::array<QRadioButton *, 2> pair {
        placeButton<QRadioButton>(picture, okName, "OK", 0, 0, 615, 195),
        placeButton<QRadioButton>(picture, failName, "N/A", 0, 240, 615, 195),
    };
    auto *group = new QButtonGroup(picture);
    group->addButton(pair[0], 0);
    group->addButton(pair[1], 1);
    pair[1]->setChecked(true);
    tabStopOnSelected(group);
    return pair;
}

// Resize steps whose result would be negative leave the control as it is.
void setWidthTwips(QWidget *control, qint32 width)
{
    if (width >= 0)
        control->resize(Twips::toPixels(width), control->height());
}

void setHeightTwips(QWidget *control, qint32 height)
{
    if (height >= 0)
        control->resize(control->width(), Twips::toPixels(height));
}

void setLeftTwips(QWidget *control, qint32 left) { control->move(Twips::toPixels(left), control->y()); }

} // namespace

frmOstrel::frmOstrel(QWidget *parent)
    : QWidget(parent)
{
    // Before any control exists: Qt describes a control when it first changes.
    Accessibility::install();
    setObjectName(QStringLiteral("frmOstrel"));
    setFont(designFont());
    setWindowIcon(Icons::program());
    resize(Twips::toPixels(kDesignWidth), Twips::toPixels(kDesignHeight));

    buildPortSettings();
    buildConnectionResult();
    arrangeTabOrder();
    describeControls();
    connectRules();

    auto *indicators = new IndicatorStyle(this);
    for (QAbstractButton *button : findChildren<QAbstractButton *>()) {
        if (qobject_cast<QCheckBox *>(button) || qobject_cast<QRadioButton *>(button))
            button->setStyle(indicators);
    }
    HScroll1->setStyle(indicators);

    new KeyPreview(this, [this](QKeyEvent *key) { Form_KeyDown(key->key(), key->modifiers()); });
}

void frmOstrel::buildPortSettings()
{
    frameSettings = place<WindowFrame>(this, "frameSettings", 120, 60, 6015, 2355);
    frameSettings->setTitle(QStringLiteral(" Port Settings "));
    QWidget *frame = frameSettings;

    lblDeviceName = placeLabel(frame, "lblDeviceName", "Device Name:", 180, 330, 1020, 195);
    txtDeviceName = place<QLineEdit>(frame, "txtDeviceName", 1620, 300, 4215, 285);

    optCheck = {
        placeButton<QRadioButton>(frame, "optCheck0", "FTP  >", 180, 720, 1215, 195),
        placeButton<QRadioButton>(frame, "optCheck1", "Ping/Echo", 180, 1020, 1215, 195),
        placeButton<QRadioButton>(frame, "optCheck2", "SMTP", 180, 1320, 1215, 195),
        placeButton<QRadioButton>(frame, "optCheck3", "Other Port  >", 180, 1620, 1215, 195),
    };
    auto *kinds = new QButtonGroup(frame);
    for (int index = 0; index < int(optCheck.size()); ++index)
        kinds->addButton(optCheck[index], index);
    optCheck[3]->setChecked(true);
    tabStopOnSelected(kinds);

    chkLogon = placeButton<QCheckBox>(frame, "chkLogon", "w/ FTP Anonymous Logon", 1620, 720, 2715, 195);

    txtPort = place<QLineEdit>(frame, "txtPort", 1620, 1560, 555, 285);
    txtPort->setText(QStringLiteral("21"));

    cmbPorts = place<QComboBox>(frame, "cmbPorts", 2280, 1560, 1515, 315);
    cmbPorts->setEditable(false);
    for (const ServiceList::Service &service : ServiceList::kServices)
        cmbPorts->addItem(QLatin1String(service.name), service.port);
    cmbPorts->setCurrentIndex(-1);

    lblTimeout = placeLabel(frame, "lblTimeout", "Timeout (sec) : 15", 180, 1980, 1275, 195);
    HScroll1 = place<QScrollBar>(frame, "HScroll1", 1620, 1980, 2175, 195);
    HScroll1->setOrientation(Qt::Horizontal);
    HScroll1->setRange(1, 60);
    HScroll1->setSingleStep(1);
    HScroll1->setPageStep(1);
    HScroll1->setValue(15);
    HScroll1->setTracking(true);
    // Qt's scroll bars invert their keys (made for vertical bars): Right must raise the timeout.
    HScroll1->setInvertedControls(false);
    HScroll1->setFocusPolicy(Qt::StrongFocus);

    btnCheck = placeButton<PushButton>(frame, "btnCheck", "Chec&k Port", 4620, 1200, 1215, 975);
    btnCheck->setIcon(Icons::checkPort());
    btnCheck->setIconSize(QSize(kLightSize, kLightSize));
    btnCheck->setToolTip(QStringLiteral("Check Port Connection"));
}

void frmOstrel::buildConnectionResult()
{
    frameConn = place<WindowFrame>(this, "frameConn", 120, 2520, 6015, 3315);
    frameConn->setTitle(QStringLiteral(" Connection Result "));
    QWidget *frame = frameConn;

    lblPortCheck = placeLabel(frame, "lblPortCheck", "Port Result:", 180, 390, 825, 195);
    imgGreen = placeLight(frame, "imgGreen", Icons::greenLight());
    imgRed = placeLight(frame, "imgRed", Icons::redLight());
    lblResult = place<ResultLabel>(frame, "lblResult", 1620, 360, 4215, 255);

    chkEXE = placeButton<QCheckBox>(frame, "chkEXE", "If port", 180, 900, 795, 195);
    picEXE = place<QWidget>(frame, "picEXE", 960, 780, 675, 495);
    optEXE = placeTriggerPair(picEXE, "optEXE0", "optEXE1");
    lblEXE = placeLabel(frame, "lblEXE", "execute this command (add /s for silent)...", 1620, 900, 2955, 195);
    lblEXEName = placeLabel(frame, "lblEXEName", "EXE Name:", 480, 1320, 825, 195);
    txtEXE = place<QLineEdit>(frame, "txtEXE", 1620, 1260, 3795, 285);
    btnBrowse = placeButton<PushButton>(frame, "btnBrowse", "...", 5460, 1200, 375, 375);
    btnBrowse->setToolTip(QStringLiteral("Select File"));
    lblArg = placeLabel(frame, "lblArg", "Arguments:", 480, 1680, 795, 195);
    txtArg = place<QLineEdit>(frame, "txtArg", 1620, 1620, 4215, 285);

    chkMail = placeButton<QCheckBox>(frame, "chkMail", "If port", 180, 2100, 795, 195);
    picMail = place<QWidget>(frame, "picMail", 960, 1980, 675, 495);
    optMail = placeTriggerPair(picMail, "optMail0", "optMail1");
    lblMail = placeLabel(frame, "lblMail", "send an SMTP email (seperate by comma's)...", 1620, 2100, 3225, 195);
    lblEmailAddr = placeLabel(frame, "lblEmailAddr", "Email Addr(s):", 480, 2520, 960, 195);
    txtMail = place<QLineEdit>(frame, "txtMail", 1620, 2460, 4215, 285);
    lblMailServer = placeLabel(frame, "lblMailServer", "Mail Server:", 480, 2880, 840, 195);
    txtMailServer = place<QLineEdit>(frame, "txtMailServer", 1620, 2820, 4215, 285);

    for (QWidget *control : std::initializer_list<QWidget *> {
             lblEXEName, lblArg, txtEXE, txtArg, btnBrowse, lblEmailAddr, lblMailServer, txtMail, txtMailServer })
        control->setEnabled(false);
}

void frmOstrel::arrangeTabOrder()
{
    const QWidget *const order[] = {
        txtDeviceName,
        optCheck[0],
        chkLogon,
        optCheck[1],
        optCheck[2],
        optCheck[3],
        txtPort,
        cmbPorts,
        HScroll1,
        chkEXE,
        optEXE[0],
        optEXE[1],
        txtEXE,
        txtArg,
        chkMail,
        optMail[0],
        optMail[1],
        txtMail,
        txtMailServer,
        btnBrowse,
        btnCheck,
    };
    for (size_t index = 1; index < std::size(order); ++index)
        QWidget::setTabOrder(const_cast<QWidget *>(order[index - 1]), const_cast<QWidget *>(order[index]));
}

void frmOstrel::connectRules()
{
    connect(txtDeviceName, &QLineEdit::textChanged, this, &frmOstrel::txtDeviceName_Change);
    txtDeviceName->installEventFilter(this);
    for (QLineEdit *field : { txtDeviceName, txtEXE, txtArg, txtMail, txtMailServer })
        FieldFocus::attach(field, FieldFocus::Colour::Highlight);
    // A stored text is kept whole, however long (Qt would cut it at 32,767).
    for (QLineEdit *field : findChildren<QLineEdit *>())
        field->setMaxLength(std::numeric_limits<int>::max());
    FieldFocus::attach(txtPort, FieldFocus::Colour::Keep);

    connect(chkEXE, &QCheckBox::stateChanged, this, &frmOstrel::chkEXE_Click);
    connect(chkMail, &QCheckBox::stateChanged, this, &frmOstrel::chkMail_Click);

    // A kind is "clicked" by the user's click and by any selection made in code.
    for (int index = 0; index < int(optCheck.size()); ++index) {
        connect(optCheck[index], &QRadioButton::clicked, this, [this, index] { optCheck_Click(index); });
        connect(optCheck[index], &QRadioButton::toggled, this, [this, index](bool checked) {
            if (checked)
                optCheck_Click(index);
        });
    }
    connect(txtPort, &QLineEdit::textChanged, this, &frmOstrel::txtPort_Change);
    connect(cmbPorts, &QComboBox::currentIndexChanged, this, &frmOstrel::cmbPorts_Click);
    connect(HScroll1, &QScrollBar::valueChanged, this, &frmOstrel::HScroll1_Change);

    connect(btnCheck, &QPushButton::clicked, this, &frmOstrel::btnCheck_Click);
    connect(btnBrowse, &QPushButton::clicked, this, &frmOstrel::btnBrowse_Click);
}

void frmOstrel::Form_Load()
{
    setWindowTitle(QString::fromStdString(Version::caption()));

    const qint32 width = Twips::fromPixels(this->width());
    const qint32 height = Twips::fromPixels(this->height());
    lngMargins[0] = width - Twips::fromPixels(txtDeviceName->width());
    lngMargins[1] = width - Twips::fromPixels(txtEXE->width());
    lngMargins[2] = width - Twips::fromPixels(frameConn->width());
    lngMargins[3] = height - Twips::fromPixels(frameConn->height());
    lngMargins[4] = width - Twips::fromPixels(btnCheck->x());
    lngMargins[5] = width - Twips::fromPixels(btnBrowse->x());
    m_marginsRecorded = true;

    Load_Settings();
    txtDeviceName->setFocus();
    show();
}

void frmOstrel::closeEvent(QCloseEvent *event)
{
    // A check under way, or the desktop's answer to F2, ends its waits at once
    // and nothing follows; the program then ends as soon as they have returned.
    m_closed = true;
    if (m_checkRunning || EventWait::waiting())
        EventWait::abandonAll();
    Form_Unload();
    event->accept();
}

void frmOstrel::Form_Unload() { Save_Settings(); }

void frmOstrel::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    Form_Resize();
}

void frmOstrel::Form_Resize()
{
    if (!m_marginsRecorded)
        return;
    const qint32 width = Twips::fromPixels(this->width());
    const qint32 height = Twips::fromPixels(this->height());
    for (QWidget *field : { static_cast<QWidget *>(txtDeviceName), static_cast<QWidget *>(lblResult),
             static_cast<QWidget *>(txtArg), static_cast<QWidget *>(txtMail), static_cast<QWidget *>(txtMailServer) })
        setWidthTwips(field, width - lngMargins[0]);
    setWidthTwips(txtEXE, width - lngMargins[1]);
    setWidthTwips(frameConn, width - lngMargins[2]);
    setWidthTwips(frameSettings, width - lngMargins[2]);
    setHeightTwips(frameConn, height - lngMargins[3]);
    setLeftTwips(btnCheck, width - lngMargins[4]);
    setLeftTwips(btnBrowse, width - lngMargins[5]);
}

void frmOstrel::mouseDoubleClickEvent(QMouseEvent *event)
{
    // Labels and frames pass their double clicks on to the window; only the
    // window's own surface, with no control under the pointer, counts.
    if (event->button() == Qt::LeftButton && !childAt(event->position().toPoint()))
        Form_DblClick();
}

void frmOstrel::Form_DblClick() { AboutWindow::showModal(this); }

bool frmOstrel::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress) { // it watches the device field alone
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter)
            txtDeviceName_KeyPress(13);
    }
    return QWidget::eventFilter(watched, event);
}

void frmOstrel::txtDeviceName_Change()
{
    btnCheck->setEnabled(!TextRules::isBlank(Utf8::from(txtDeviceName->text())));
    clearResult();
}

void frmOstrel::txtDeviceName_KeyPress(int KeyAscii)
{
    if (KeyAscii == 13 && btnCheck->isEnabled())
        btnCheck->click();
}

void frmOstrel::chkEXE_Click()
{
    const bool ticked = chkEXE->checkState() != Qt::Unchecked;
    for (QWidget *control : std::initializer_list<QWidget *> { lblEXEName, lblArg, txtEXE, txtArg, btnBrowse })
        control->setEnabled(ticked);
}

void frmOstrel::chkMail_Click()
{
    const bool ticked = chkMail->checkState() != Qt::Unchecked;
    for (QWidget *control : std::initializer_list<QWidget *> { lblEmailAddr, lblMailServer, txtMail, txtMailServer })
        control->setEnabled(ticked);
}

void frmOstrel::optCheck_Click(int) { clearResult(); }

void frmOstrel::txtPort_Change() { cmbPorts->setCurrentIndex(ServiceList::indexForPortText(txtPort->text())); }

void frmOstrel::cmbPorts_Click()
{
    const int index = cmbPorts->currentIndex();
    if (index < 0 || index == ServiceList::kOtherIndex)
        return;
    bool readable = false;
    const int port = cmbPorts->itemData(index).toInt(&readable);
    if (readable) {
        const QString portText = QString::number(port);
        // Writing the text it already holds would only select this entry again.
        if (txtPort->text() != portText)
            txtPort->setText(portText);
    }
    optCheck[3]->setChecked(true);
}

void frmOstrel::HScroll1_Change()
{
    lblTimeout->setText(QStringLiteral("Timeout (sec) : ") + QString::number(HScroll1->value()));
}

void frmOstrel::clearResult()
{
    lblResult->clear();
    imgGreen->hide();
    imgRed->hide();
}

void frmOstrel::showResult(const QString &result, bool passed)
{
    lblResult->setText(result);
    (passed ? imgGreen : imgRed)->show();
    lblResult->announce();
}
