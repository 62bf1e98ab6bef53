// The application object (title, exception guard) and the creation of the
// eleven windows at start-up.
#pragma once

#include <QApplication>
#include <memory>

class TMainForm;

class KavelApplication : public QApplication {
    Q_OBJECT

public:
    KavelApplication(int& argc, char** argv);

    // An exception escaping an event handler is shown and the loop goes on.
    bool notify(QObject* receiver, QEvent* event) override;
};

// Shows an exception's message in the application's standard way.
void ShowException(const QString& message);

// Owns the windows created at start-up. The dialogs and the MDI children
// belong to the main window through Qt's parent tree; destroying this object
// destroys them all, and every global window pointer turns null.
class ApplicationWindows {
public:
    ApplicationWindows() = default;
    ApplicationWindows(ApplicationWindows&&) noexcept = default;
    ApplicationWindows& operator=(ApplicationWindows&&) noexcept = default;
    ~ApplicationWindows();

    TMainForm* Main() const noexcept { return main_.get(); }

private:
    friend ApplicationWindows CreateApplicationWindows();
    std::unique_ptr<TMainForm> main_;
};

// Creates MainForm, ResultImageForm, ImageForm, HistoGrisForm, ImageSizeForm,
// DiagKavelTreatForm, AuthorForm, EnglishInfoForm, FrenchInfoForm,
// CopyrigthForm and SpanishInfoForm, in that order, and shows the main window
// with its two empty children.
[[nodiscard]] ApplicationWindows CreateApplicationWindows();
