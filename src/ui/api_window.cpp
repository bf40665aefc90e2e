#include "ui/api_window.h"

#include <QLabel>
#include <QScrollArea>
#include <QVBoxLayout>

#include "host/api_server.h"

namespace kestrel {
namespace {

constexpr int kLineGap = 5;
constexpr int kLineWidth = 560;

QString displayText(const std::string& text) {
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

ApiWindow::ApiWindow(ApiServer& server, QWidget* parent)
    : QWidget(parent, Qt::Window), m_server(server) {
    setWindowTitle(QStringLiteral("Kestrelfield API Server"));
    resize(600, 400);

    auto* scroll = new QScrollArea(this);
    m_lineArea = new QWidget;
    scroll->setWidget(m_lineArea);
    m_failureLine = new QLabel(this);
    m_failureLine->setTextFormat(Qt::PlainText);
    m_failureLine->setWordWrap(true);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(scroll, 1);
    layout->addWidget(m_failureLine);
    m_lineHeight = fontMetrics().height() + 4;

    const auto& connections = server.connections();
    for (int i = 0; i < static_cast<int>(connections.lines().size()); ++i)
        showLine(i);
    const auto showFailure = [this](const std::string& failure) {
        m_failureLine->setText(
            displayText(failure).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
    };
    if (!connections.lastFailure().empty()) showFailure(connections.lastFailure());
    server.setOnLine([this](int i) { showLine(i); });
    server.setOnFailure(showFailure);
}

ApiWindow::~ApiWindow() {
    m_server.setOnLine({});
    m_server.setOnFailure({});
}

const QLabel* ApiWindow::line(int i) const {
    return i >= 0 && i < static_cast<int>(m_lines.size()) ? m_lines[i] : nullptr;
}

void ApiWindow::showLine(int i) {
    while (static_cast<int>(m_lines.size()) <= i) {
        const int index = static_cast<int>(m_lines.size());
        auto* label = new QLabel(m_lineArea);
        // Paths come from clients: never interpret them as markup.
        label->setTextFormat(Qt::PlainText);
        label->setGeometry(0, index * (m_lineHeight + kLineGap), kLineWidth, m_lineHeight);
        label->show();
        m_lines.push_back(label);
        m_lineArea->resize(kLineWidth, index * (m_lineHeight + kLineGap) + m_lineHeight);
    }
    const QString text = displayText(m_server.connections().lines()[i]);
    if (m_lines[i]->text() != text) m_lines[i]->setText(text);
}

}  // namespace kestrel
