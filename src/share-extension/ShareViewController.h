#pragma once

#include <QWidget>

class QLabel;

namespace oxle {

// The share sheet: one line of status in a small window that closes itself shortly after the outcome.
class ShareViewController : public QWidget
{
    Q_OBJECT
public:
    static constexpr int closeDelayMs = 600;

    explicit ShareViewController(QWidget *parent = nullptr);

    QLabel *status() const { return m_status; }

    // Shows the outcome, then closes closeDelayMs later and emits completed().
    void finish(const QString &message);

Q_SIGNALS:
    void completed();

protected:
    // Closing the window while the save is in flight only hides it: the save still ends and reports.
    void closeEvent(QCloseEvent *event) override;

private:
    QLabel *m_status;
    bool m_finished = false;
};

} // namespace oxle
