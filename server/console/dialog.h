#pragma once

#include <QDialog>
#include <QElapsedTimer>
#include <QTimer>

#include <memory>

namespace Ui {
class Dialog;
}
class Logger;
class ServerRuntime;

// The operator's console: where the server listens, the database in use, what is stored, how many
// connections are being served, and the log of requests.
class Dialog : public QDialog
{
    Q_OBJECT
public:
    explicit Dialog(QWidget* parent = nullptr);
    ~Dialog() override;

    // Starts the server; false when it cannot run (the log says why).
    bool start();

private:
    void refresh();
    void refreshCounts();

    std::unique_ptr<Ui::Dialog> m_ui;
    std::unique_ptr<Logger> m_logger;
    std::unique_ptr<ServerRuntime> m_runtime;
    QTimer m_refreshTimer;
    quint64 m_countedChanges = ~quint64(0);
    QElapsedTimer m_countsAge;
};
