#pragma once

#include <QTest>
#include <QWidget>
#include <functional>
#include <memory>

// Every window test class lives in one executable (tst_window), run one
// class at a time by name: tst_window TestCheckWindow [QTest options].
namespace WindowTesting {

template <typename Control = QWidget>
Control *control(const QWidget &window, const QString &name)
{
    auto *found = window.findChild<Control *>(name);
    if (!found)
        qFatal("no control named %s", qPrintable(name));
    return found;
}

bool add(const char *name, std::function<std::unique_ptr<QObject>()> make);

} // namespace WindowTesting

#define WINDOW_TEST(Class)                                                                                  \
    [[maybe_unused]] static const bool registered##Class =                                                  \
        WindowTesting::add(#Class, [] { return std::unique_ptr<QObject>(new Class); });

// A data table of one column, "row", holding structs named by their first member.
#define ROWS(Type, rows)                                                                                    \
    QTest::addColumn<Type>("row");                                                                          \
    for (const Type &row : rows)                                                                            \
        QTest::newRow(row.name) << row;
