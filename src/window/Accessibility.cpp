#include "window/Accessibility.h"

#include <QAccessibleWidget>

namespace {

class FrameInterface : public QAccessibleWidget {
public:
    explicit FrameInterface(QGroupBox *frame)
        : QAccessibleWidget(frame, QAccessible::Grouping, frame->title().trimmed())
    {
    }
    int childCount() const override { return int(shown().size()); }
    QAccessibleInterface *child(int index) const override
    {
        const QWidgetList controls = shown();
        return index >= 0 && index < controls.size() ? QAccessible::queryAccessibleInterface(controls.at(index))
                                                     : nullptr;
    }
    int indexOfChild(const QAccessibleInterface *child) const override
    {
        return child ? int(shown().indexOf(qobject_cast<QWidget *>(child->object()))) : -1;
    }

private:
    QWidgetList shown() const
    {
        QWidgetList controls;
        for (QObject *object : widget()->children()) {
            auto *control = qobject_cast<QWidget *>(object);
            if (control && !control->isWindow() && !control->isHidden())
                controls << control;
        }
        return controls;
    }
};

class ResultInterface : public QAccessibleWidget {
public:
    explicit ResultInterface(QLabel *label)
        : QAccessibleWidget(label, QAccessible::Notification)
    {
    }
    // The text itself: Qt would name a label in a frame after the frame.
    QString text(QAccessible::Text kind) const override
    {
        return kind == QAccessible::Name ? static_cast<QLabel *>(widget())->text() : QAccessibleWidget::text(kind);
    }
};

QAccessibleInterface *describe(const QString &className, QObject *object)
{
    if (className == QLatin1String("WindowFrame"))
        return new FrameInterface(static_cast<QGroupBox *>(object));
    if (className == QLatin1String("ResultLabel"))
        return new ResultInterface(static_cast<QLabel *>(object));
    return nullptr;
}

} // namespace

void Accessibility::install()
{
    static const bool installed = (QAccessible::installFactory(describe), true);
    Q_UNUSED(installed);
}

void ResultLabel::announce()
{
    // Hidden and shown within one pass of the event loop: nothing flickers.
    hide();
    show();
}
