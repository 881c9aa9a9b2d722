// A window that previews keys sees each key once, before the control that
// has the focus, and never the keys of another window.
#include "window/KeyPreview.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <QVBoxLayout>

namespace {

struct Seen {
    int key;
    QString fieldText; // the field's text when the window saw the key
};

} // namespace

class TestKeyPreview : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void seenBeforeTheFocusedControl_data();
    void seenBeforeTheFocusedControl();
    void windowWithoutFocusedControl();
    void otherWindowsAreNotWatched();

private:
    QWidget *m_window = nullptr;
    QLineEdit *m_field = nullptr;
    QList<Seen> m_seen;
};

void TestKeyPreview::init()
{
    m_window = new QWidget;
    auto *layout = new QVBoxLayout(m_window);
    m_field = new QLineEdit(m_window);
    layout->addWidget(new QLabel(QStringLiteral("label"), m_window));
    layout->addWidget(m_field);
    new KeyPreview(m_window, [this](QKeyEvent *key) { m_seen.append({key->key(), m_field->text()}); });
    m_window->show();
    QVERIFY(QTest::qWaitForWindowActive(m_window));
    m_field->setFocus();
    m_seen.clear();
}

void TestKeyPreview::cleanup()
{
    delete m_window;
    m_seen.clear();
}

void TestKeyPreview::seenBeforeTheFocusedControl_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<QString>("text");

    QTest::newRow("letter the field takes") << int(Qt::Key_A) << "a";
    QTest::newRow("F2, which the field leaves to the window") << int(Qt::Key_F2) << "";
    QTest::newRow("Escape, also left to the window") << int(Qt::Key_Escape) << "";
    QTest::newRow("Enter") << int(Qt::Key_Return) << "";
}

void TestKeyPreview::seenBeforeTheFocusedControl()
{
    QFETCH(int, key);
    QFETCH(QString, text);

    QTest::keyClick(m_field, Qt::Key(key));
    // Once, even when the key travels on from the field to the window.
    QCOMPARE(m_seen.size(), 1);
    QCOMPARE(m_seen.first().key, key);
    QCOMPARE(m_seen.first().fieldText, QString());
    QCOMPARE(m_field->text(), text);
}

void TestKeyPreview::windowWithoutFocusedControl()
{
    m_field->setEnabled(false);
    m_window->setFocus();
    QCOMPARE(QApplication::focusWidget(), m_window);
    QTest::keyClick(m_window, Qt::Key_F2);
    QCOMPARE(m_seen.size(), 1);
    QCOMPARE(m_seen.first().key, int(Qt::Key_F2));
}

void TestKeyPreview::otherWindowsAreNotWatched()
{
    QLineEdit other;
    other.show();
    other.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&other));
    QTest::keyClicks(&other, QStringLiteral("x"));
    QTest::keyClick(&other, Qt::Key_F2);
    QCOMPARE(other.text(), QStringLiteral("x"));
    QCOMPARE(m_seen.size(), 0);
}

QTEST_MAIN(TestKeyPreview)
#include "tst_keypreview.moc"
