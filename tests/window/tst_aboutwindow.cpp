// The About window: what it shows and the three ways it closes.
#include "ModalWatch.h"
#include "entry/Version.h"
#include "window/AboutWindow.h"

#include <QLabel>
#include <QPushButton>
#include <QTest>

class TestAboutWindow : public QObject
{
    Q_OBJECT
private slots:
    void content();
    void closing_data();
    void closing();
};

void TestAboutWindow::content()
{
    AboutWindow about;
    QCOMPARE(about.windowTitle(), QStringLiteral("About Ostrel"));
    QCOMPARE(about.findChild<QLabel *>(QStringLiteral("lblTitle"))->text(), Version::caption());
    for (const char *name : {"lblProduct", "lblAuthor", "lblDisclaimer"})
        QVERIFY2(!about.findChild<QLabel *>(QLatin1String(name))->text().isEmpty(), name);
    QVERIFY(!about.findChild<QLabel *>(QStringLiteral("imgIcon"))->pixmap().isNull());
    QCOMPARE(about.findChild<QPushButton *>(QStringLiteral("btnClose"))->text(), QStringLiteral("Close"));
}

void TestAboutWindow::closing_data()
{
    QTest::addColumn<QString>("way");
    QTest::addColumn<bool>("closes");

    QTest::newRow("Escape") << "Escape" << true;
    QTest::newRow("Close button") << "Close" << true;
    QTest::newRow("Enter on the Close button") << "Enter" << true;
    QTest::newRow("double click on the icon") << "icon" << true;
    QTest::newRow("single click on the icon") << "icon click" << false;
    QTest::newRow("double click on the disclaimer") << "disclaimer" << false;
    QTest::newRow("double click on the title") << "title" << false;
}

void TestAboutWindow::closing()
{
    QFETCH(QString, way);
    QFETCH(bool, closes);

    QWidget owner;
    owner.resize(200, 100);
    owner.show();
    QVERIFY(QTest::qWaitForWindowActive(&owner));

    bool modal = false;
    bool ownerBlocked = false;
    bool openAfterAction = true;
    ModalWatch watch([&](QWidget *about) {
        modal = about->isModal();
        ownerBlocked = !owner.isEnabled() || QApplication::activeModalWidget() == about;
        const auto child = [about](const char *name) { return about->findChild<QWidget *>(QLatin1String(name)); };
        if (way == QLatin1String("Escape"))
            QTest::keyClick(about, Qt::Key_Escape);
        else if (way == QLatin1String("Close"))
            QTest::mouseClick(child("btnClose"), Qt::LeftButton);
        else if (way == QLatin1String("Enter"))
            QTest::keyClick(child("btnClose"), Qt::Key_Return);
        else if (way == QLatin1String("icon"))
            QTest::mouseDClick(child("imgIcon"), Qt::LeftButton);
        else if (way == QLatin1String("icon click"))
            QTest::mouseClick(child("imgIcon"), Qt::LeftButton);
        else if (way == QLatin1String("disclaimer"))
            QTest::mouseDClick(child("lblDisclaimer"), Qt::LeftButton);
        else if (way == QLatin1String("title"))
            QTest::mouseDClick(child("lblTitle"), Qt::LeftButton);
        openAfterAction = about->isVisible();
        if (openAfterAction)
            about->close();
    });
    AboutWindow::showModal(&owner);

    QVERIFY(watch.seen());
    QVERIFY(!watch.forced());
    QCOMPARE(watch.objectName(), QStringLiteral("frmAbout"));
    QVERIFY(modal);
    QVERIFY(ownerBlocked);
    QCOMPARE(openAfterAction, !closes);
}

QTEST_MAIN(TestAboutWindow)
#include "tst_aboutwindow.moc"
