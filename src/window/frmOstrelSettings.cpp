// The window's fields from and to the per-user settings store.
#include "window/frmOstrel.h"

#include "base/TextRules.h"
#include "qt/Utf8.h"
#include "window/SettingsStore.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QScrollBar>

namespace {

// The stored state of a check box: 0 cleared, 1 ticked, 2 greyed.
QString checkBoxValue(const QCheckBox *box)
{
    switch (box->checkState()) {
    case Qt::Checked:
        return QStringLiteral("1");
    case Qt::PartiallyChecked:
        return QStringLiteral("2");
    default:
        return QStringLiteral("0");
    }
}

void setCheckBoxValue(QCheckBox *box, const QString &text)
{
    const auto value = TextRules::toWholeNumber16(Utf8::from(text));
    if (!value)
        return;
    switch (*value) {
    case 0:
        box->setCheckState(Qt::Unchecked);
        break;
    case 1:
        box->setCheckState(Qt::Checked);
        break;
    case 2:
        // Only a stored value greys the box; the user's first click ticks
        // it, and from then on clicks only tick and clear it.
        box->setTristate(true);
        box->setCheckState(Qt::PartiallyChecked);
        QObject::connect(
            box, &QCheckBox::clicked, box, [box] { box->setTristate(false); }, Qt::SingleShotConnection);
        break;
    default:
        break;
    }
}

} // namespace

void frmOstrel::Load_Settings()
{
    SettingsStore store;
    const auto read = [&store](const char *key, const std::optional<QString> &defaultText) {
        return store.read(QLatin1String(key), defaultText);
    };

    // Each value arrives as the user's own change would, so the field rules
    // run; the port comes before the check type so the stored type wins.
    const struct {
        const char *key;
        QLineEdit *field;
        const char *defaultText;
    } textKeys[] = {
        { "DeviceName", txtDeviceName, "" },
        { "Port", txtPort, "21" },
        { "EXEName", txtEXE, "" },
        { "Argument", txtArg, "" },
        { "MailAddr", txtMail, "" },
        { "MailServer", txtMailServer, "" },
    };
    for (const auto &[key, field, defaultText] : textKeys) {
        if (const auto text = read(key, QLatin1String(defaultText)))
            field->setText(*text);
    }

    if (const auto text = read("PortType", QStringLiteral("3"))) {
        const auto index = TextRules::toWholeNumber16(Utf8::from(*text));
        if (index && *index >= 0 && *index < qint16(optCheck.size()))
            optCheck[*index]->setChecked(true);
    }

    // False leaves the trigger where it is.
    const std::pair<const char *, QRadioButton *> triggerKeys[] = { { "EXEOK", optEXE[0] }, { "MAILOK", optMail[0] } };
    for (const auto &[key, okButton] : triggerKeys) {
        if (const auto text = read(key, QStringLiteral("False"))) {
            if (SettingsStore::toTruthValue(*text).value_or(false))
                okButton->setChecked(true);
        }
    }

    const std::pair<const char *, QCheckBox *> boxKeys[]
        = { { "FTPLogon", chkLogon }, { "EXE", chkEXE }, { "Mail", chkMail } };
    for (const auto &[key, box] : boxKeys) {
        if (const auto text = read(key, QStringLiteral("0")))
            setCheckBoxValue(box, *text);
    }

    // No stored timeout keeps the bar where it is; neither does one it cannot hold.
    if (const auto text = read("Timeout", std::nullopt)) {
        const auto seconds = TextRules::toWholeNumber16(Utf8::from(*text));
        if (seconds && *seconds >= HScroll1->minimum() && *seconds <= HScroll1->maximum())
            HScroll1->setValue(*seconds);
    }
}

void frmOstrel::Save_Settings()
{
    // Only a run that started a check stores anything.
    if (!bolSaveSettings)
        return;
    SettingsStore store;
    const auto write = [&store](const char *key, const QString &text) { store.write(QLatin1String(key), text); };

    write("DeviceName", txtDeviceName->text());
    write("Port", txtPort->text());
    write("EXEName", txtEXE->text());
    write("Argument", txtArg->text());
    write("MailAddr", txtMail->text());
    write("MailServer", txtMailServer->text());

    for (int index = 0; index < int(optCheck.size()); ++index) {
        if (optCheck[index]->isChecked()) {
            write("PortType", QString::number(index));
            break;
        }
    }

    const auto truth = [](bool value) { return value ? QStringLiteral("True") : QStringLiteral("False"); };
    write("EXEOK", truth(optEXE[0]->isChecked()));
    write("MAILOK", truth(optMail[0]->isChecked()));

    write("FTPLogon", checkBoxValue(chkLogon));
    write("EXE", checkBoxValue(chkEXE));
    write("Mail", checkBoxValue(chkMail));

    write("Timeout", QString::number(HScroll1->value()));
    store.flush();
}
