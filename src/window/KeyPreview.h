#pragma once

#include <QObject>
#include <functional>

class QKeyEvent;
class QWidget;

// Lets a window see every key pressed while it or one of its controls has
// the focus, before that control does. The key is then delivered as usual.
class KeyPreview : public QObject {
    Q_OBJECT
public:
    using Handler = std::function<void(QKeyEvent *)>;

    // Watches the application's keys for `window`, for as long as the window lives.
    KeyPreview(QWidget *window, Handler handler);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QWidget *m_window;
    Handler m_handler;
};
