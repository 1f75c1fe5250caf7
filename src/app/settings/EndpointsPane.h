#pragma once

// Qt's first: moc reads the core's C++20 headers only after Qt's own.
#include <QWidget>

#include "base/Uuid.h"
#include "endpoint/Endpoint.h"
#include "endpoint/EndpointStatus.h"

#include <deque>
#include <map>
#include <optional>
#include <string>

class QComboBox;
class QFormLayout;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QStackedWidget;
class QToolButton;

namespace marrowbell::app {

class AppModel;

// The "Endpoints" tab: the configured endpoints with the status of their latest check
// in this window, adding, deleting and testing them, and an editor of the selected
// one. Every edit is saved at once to the endpoint store (keys to the secret store)
// and the model refreshed. Checks run off the main thread, never send a key, and
// report only while the pane wants them: `cancelChecks` drops every one under way.
class EndpointsPane : public QWidget {
    Q_OBJECT
public:
    explicit EndpointsPane(AppModel& model, QWidget* parent = nullptr);

    // Edits that endpoint (its stored key in the key field), or nothing.
    void select(const std::optional<Uuid>& id);
    const std::optional<Uuid>& selection() const { return selection_; }
    // True from "Test all" until its last endpoint answered.
    bool isChecking() const { return isChecking_; }
    const std::map<Uuid, EndpointStatus>& statuses() const { return statuses_; }

    // Stops "Test all", drops every answer still on its way and forgets the statuses;
    // a key typed but not saved is put back to the stored one.
    void cancelChecks();

    // The roles of a row of the list, beside its name (Qt::DisplayRole).
    enum Role { idRole = Qt::UserRole, urlRole, usedByRole, dotRole };
    // How a row's dot is drawn.
    enum class Dot { neverChecked, reachable, failed };

private:
    QWidget* listSide();
    QWidget* editorSide();

    void addEndpoint();
    void deleteSelected();
    void testAll();
    void checkNextPending();
    void check(const Endpoint& endpoint, QObject* receiver, bool continueTestAll);
    void commitURL();
    // Applies `change` to the stored copy of the selected endpoint and saves it.
    void changeSelected(const std::function<void(Endpoint&)>& change);
    void saveKey();

    void showList();
    void showEditor();
    void showStatus();
    void showProblem(const std::optional<std::string>& message);
    void setChecking(bool checking);

    AppModel& model_;
    std::map<Uuid, EndpointStatus> statuses_;
    std::optional<Uuid> selection_;
    std::optional<Endpoint> draft_;
    bool isChecking_ = false;
    std::deque<Endpoint> pending_; // the endpoints "Test all" has still to check
    // The receivers of answers; replaced to drop every answer still on its way.
    QObject* testAllAnswers_ = nullptr;
    QObject* recheckAnswers_ = nullptr;

    QListWidget* list_ = nullptr;
    QToolButton* add_ = nullptr;
    QToolButton* remove_ = nullptr;
    QPushButton* testAll_ = nullptr;
    QLabel* problem_ = nullptr;
    QStackedWidget* editor_ = nullptr;
    QFormLayout* form_ = nullptr;
    QLineEdit* name_ = nullptr;
    QLineEdit* url_ = nullptr;
    QLabel* urlError_ = nullptr;
    QComboBox* kind_ = nullptr;
    QLineEdit* apiKey_ = nullptr;
    QLabel* apiKeyHint_ = nullptr;
    QLabel* status_ = nullptr;
    QLabel* models_ = nullptr;
    QLabel* usedBy_ = nullptr;
};

} // namespace marrowbell::app
