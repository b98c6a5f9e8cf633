// LogoForm, the logo utility's window: a thin Qt view over logo::logo_form_model. It shows the
// logo list as thumbnails (a scrolling strip and the "All logos" page of the tab strip), the
// original picture and the preview of the current entry with its settings, the memory labels,
// the buttons, a progress bar and the status bar, and forwards every click to the model. It is
// the model's user_interface: messages and questions are Qt dialogs, waits pump Qt's events.
#pragma once

#include <QMainWindow>

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "logo/logo_form.h"
#include "platform/com.h"
#include "utilities/user_interface.h"

class QCheckBox;
class QComboBox;
class QGridLayout;
class QGroupBox;
class QHBoxLayout;
class QLabel;
class QProgressBar;
class QPushButton;
class QScrollArea;
class QStackedWidget;
class QTabBar;

namespace utilities {
class start_form_model;
}  // namespace utilities

namespace logo_view {

class ThumbFrame;

// The captions of the window's texts that the model does not hold.
inline constexpr char kAllLogosTab[] = "All logos";
inline constexpr char kFileDialogTitle[] = "Select one or more files";
inline constexpr char kFileDialogFilter[] = "BMP Files (*.bmp)";

class LogoForm : public QMainWindow, public utilities::user_interface {
  Q_OBJECT

 public:
  // A window on the printer of `channel` (its I/O object, identified as env.id). The window has
  // a printer link of its own, so that the link's status texts, questions and waits belong to
  // this window. `working_mode` is status-bar panel 1.
  LogoForm(platform::com_ptr<platform::dispatch> channel, logo::logo_form_environment env,
           const std::string& working_mode, QWidget* parent = nullptr);
  ~LogoForm() override;

  // The window StartForm opens for the LOGO kind: the browser's connected printer and program.
  static QWidget* open(utilities::start_form_model& browser, QWidget* owner);

  logo::logo_form_model& model() { return *model_; }
  // The entry whose pictures and settings are shown (none on the "All logos" page when no entry
  // was chosen yet).
  std::optional<std::size_t> currentEntry() const { return current_; }
  // Makes entry `i` the current one: its tab, its pictures and its settings.
  void showEntry(std::size_t i);
  // Adds picture files as cmdAddLogo does after its file dialog.
  void addPictures(const std::vector<std::filesystem::path>& files);
  // Runs the start inquiry now (StartTimer's first tick); it runs by itself once the window shows.
  void startInquiry();

  // user_interface
  void set_status(int panel, const std::string& text) override;
  void show_message(const std::string& text) override;
  void message_box(const std::string& text, utilities::box_icon icon) override;
  utilities::box_answer ask(const std::string& text, utilities::box_buttons buttons, utilities::box_icon icon) override;
  void pump(int ms) override;
  bool end_requested() const override { return endReq_; }
  void set_busy_pointer(bool busy) override;

 protected:
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void buildWindow();
  QWidget* buildSettings();
  QWidget* buildButtons();
  // Runs an operation of the model with the hourglass and the buttons disabled; a close asked
  // for meanwhile happens afterwards.
  void runOperation(const std::function<void()>& operation);
  void addLogos();
  // A thumbnail was clicked: toggles its selection mark and shows the entry.
  void thumbClicked(std::size_t i);
  // A settings control changed: the current entry converts again.
  void settingsChanged();

  // Shows the model: the entries (thumbnails and tabs), the current entry, labels and buttons.
  void refresh();
  void refreshEntries();
  void refreshCurrent();
  void layoutAllLogos();
  void refreshLabels();
  void refreshButtons();
  void fillSettingChoices();

  std::unique_ptr<utilities::printer_link> link_;
  std::unique_ptr<logo::logo_form_model> model_;
  std::optional<std::size_t> current_;
  bool running_ = false;
  bool endReq_ = false;
  bool busyCursor_ = false;
  bool started_ = false;
  bool filling_ = false;  // settings controls are being filled: their signals change nothing

  QTabBar* tabStrip_ = nullptr;
  QStackedWidget* pages_ = nullptr;
  QScrollArea* picSlideAll_ = nullptr;
  QGridLayout* slideAllGrid_ = nullptr;
  QScrollArea* picSlide_ = nullptr;
  QHBoxLayout* slideRow_ = nullptr;
  std::vector<ThumbFrame*> thumbs_;     // picSlide, one per entry
  std::vector<ThumbFrame*> thumbsAll_;  // picSlideAll, one per entry
  QLabel* picView_ = nullptr;
  QLabel* picPreview_ = nullptr;
  QComboBox* cmbColor_ = nullptr;
  QComboBox* cmbPaperWidth_ = nullptr;
  QCheckBox* chkErrorDiffusion_ = nullptr;
  QCheckBox* chkFit_ = nullptr;
  QLabel* lblMemUsed_ = nullptr;
  QLabel* lblMemFree_ = nullptr;
  QPushButton* cmdAddLogo_ = nullptr;
  QPushButton* cmdDelLogo_ = nullptr;
  QPushButton* cmdDwldLogo_ = nullptr;
  QPushButton* cmdPrintLogo_ = nullptr;
  QPushButton* cmdClearMem_ = nullptr;
  QPushButton* cmdPrintMemLogos_ = nullptr;
  QPushButton* cmdSelectAll_ = nullptr;
  QPushButton* cmdSelectNone_ = nullptr;
  QPushButton* cmdExit_ = nullptr;
  QProgressBar* progressBar_ = nullptr;
  QLabel* workingMode_ = nullptr;
  QLabel* programStatus_ = nullptr;
};

}  // namespace logo_view
