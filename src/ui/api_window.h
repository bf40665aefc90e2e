#pragma once

#include <QWidget>
#include <vector>

class QLabel;

namespace kestrel {

class ApiServer;

/// The "Kestrelfield API Server" window: shows what the API's listener
/// reports, one status line per connection and the latest failure. Its
/// creator shows it; closing it only hides it. Must not outlive `server`.
class ApiWindow : public QWidget {
    Q_OBJECT
public:
    explicit ApiWindow(ApiServer& server, QWidget* parent = nullptr);
    ~ApiWindow() override;

    /// Status line i (`lblFileProgress(i)`); nullptr when it does not exist yet.
    const QLabel* line(int i) const;
    /// Where failures while handling requests are shown.
    const QLabel* failureLine() const { return m_failureLine; }

private:
    void showLine(int i);

    ApiServer& m_server;
    QWidget* m_lineArea = nullptr;
    QLabel* m_failureLine = nullptr;
    std::vector<QLabel*> m_lines;  // index i: the line of element i
    int m_lineHeight = 0;
};

}  // namespace kestrel
