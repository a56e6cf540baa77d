#pragma once

#include "platform/core/Published.h"
#include "ui/kit/ChoiceBox.h"

#include <QWidget>

class QCheckBox;
class QLabel;
class QLineEdit;
class QToolButton;

namespace pondra {

class AppState;

/**
 * The settings window, titled "Pondra Settings": the user's name and e-mail,
 * the server's address and token, the camera, the auto-retake interval and
 * the burst mode, in three groups. It keeps no settings of its own: each time
 * it goes from hidden to shown it copies the current values into its fields
 * (writing nothing), and it writes the user's edits back through the state.
 * Name and e-mail are written at each keystroke (the name only when not
 * empty). The address and the token are written when their editing finishes
 * (Enter, the focus leaving the field, the window hidden, the program
 * quitting) and only when they differ from what was last loaded or written:
 * every write reconnects with the token, and a half-typed host must never
 * receive it. An empty address is never written.
 */
class SettingsView final : public QWidget
{
    Q_OBJECT
public:
    static constexpr int windowWidth = 400;
    static constexpr int windowHeight = 380;

    explicit SettingsView(AppState& app, QWidget* parent = nullptr);
    ~SettingsView() override;

    /// Writes the address and the token where they differ from what was last
    /// loaded or written.
    void commitServerFields();

    QLineEdit* nameField() const { return m_name; }
    QLineEdit* emailField() const { return m_email; }
    QLineEdit* serverURLField() const { return m_serverURL; }
    QLineEdit* apiTokenField() const { return m_apiToken; }
    /// Shows or hides the token; never takes the focus.
    QToolButton* tokenVisibilityButton() const { return m_tokenEye; }
    bool isTokenShown() const;
    ChoiceBox* cameraPicker() const { return m_camera; }
    ChoiceBox* autoRetakePicker() const { return m_autoRetake; }
    QCheckBox* bestPhotoBox() const { return m_bestPhoto; }

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void load();
    void commitServerURL();
    void commitApiToken();
    void refillCameras();
    /// The token as plain text or masked; the eye shows which.
    void showToken(bool show);
    /// The quiet texts' and the eye's colour, from the window's palette as it is now.
    void applyQuietColours();

    AppState& m_app;
    SubscriptionBag m_subscriptions;

    QLineEdit* m_name = nullptr;
    QLineEdit* m_email = nullptr;
    QLineEdit* m_serverURL = nullptr;
    QLineEdit* m_apiToken = nullptr;
    QToolButton* m_tokenEye = nullptr;
    QLabel* m_caption = nullptr;
    ChoiceBox* m_camera = nullptr;
    ChoiceBox* m_autoRetake = nullptr;
    QCheckBox* m_bestPhoto = nullptr;

    bool m_loaded = false;
    /// The values last loaded into or written from the two fields.
    QString m_committedServerURL;
    QString m_committedApiToken;
    /// The chosen camera, as loaded or chosen; empty is the default camera.
    QString m_selectedCameraId;
};

/// Tells the window registry how to make the settings window, so every way of
/// opening the settings makes it on first use and raises the one instance.
void installSettingsWindow(AppState& app);

} // namespace pondra
