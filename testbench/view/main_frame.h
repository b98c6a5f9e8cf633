// CMainFrame: the test environment's multiple-document window. Menus, the four toolbars, the
// status bar, the docking property list, the output window and the script windows, over the
// session model; it is also the session's host (questions, error window, debugger, waiting).
#pragma once

#include <QMainWindow>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "testbench/image_document.h"
#include "testbench/session.h"
#include "testbench/settings.h"

class QAction;
class QActionGroup;
class QDockWidget;
class QLabel;
class QMdiArea;
class QMdiSubWindow;
class QMenu;
class QProgressBar;
class QSocketNotifier;
class QToolBar;
class QTreeWidget;

namespace testbench_view {

class CIMGFrame;
class COutView;
class CPRNView;
class ImageProperties;
class PosDebugWindow;

class CMainFrame : public QMainWindow, public testbench::session_host {
 public:
  // `config` must have its first-run values; the control object is created here.
  explicit CMainFrame(testbench::settings& config, QWidget* parent = nullptr);
  ~CMainFrame() override;

  testbench::session& session() { return *session_; }
  QMdiArea* mdi() const { return mdi_; }
  QTreeWidget* property_list() const { return properties_; }
  QDockWidget* property_dock() const { return dock_; }
  COutView* output_view() const { return output_; }
  QMdiSubWindow* output_window() const { return output_window_; }
  PosDebugWindow* debug_window() const { return debug_; }
  QLabel* connection_pane() const { return connection_; }
  QProgressBar* progress_bar() const { return progress_; }
  // The four toolbars in their order.
  std::vector<QToolBar*> toolbars() const { return toolbars_; }
  // The action whose text (without "&") is `text`, or null.
  QAction* action(const QString& text) const;

  // Opens a file by its extension (txt, oef: a script window; bmp, jpg: an image window);
  // false for another type or a file that cannot be loaded.
  bool open_document(const QString& path);
  // Opens a picture in an image window; a picture that cannot be loaded shows its message box
  // and opens nothing.
  bool open_image(const QString& path);
  // The active image window, or null.
  CIMGFrame* active_image() const;
  // The menu and toolbar action of an image command.
  QAction* image_action(testbench::image_command command) const;
  // Runs an image command on the active image window, as its menu entry does.
  void run_image_command(testbench::image_command command);
  // Greys the image commands that are not available now and sets their check marks.
  void update_image_commands();
  QDockWidget* image_property_dock() const { return image_dock_; }
  ImageProperties* image_properties() const { return image_properties_; }
  // The halftone algorithm of image conversions (1 at start, or 4).
  int halftone_type() const { return halftone_type_; }
  // The bitmap alignment of the alignment buttons.
  std::int32_t bitmap_alignment() const;
  // Runs each time a filter's progress is shown (and once when it ends); for tools and tests.
  std::function<void()> on_filter_progress;
  // A new, empty script window.
  CPRNView* new_script();
  // The active script window, or null.
  CPRNView* active_script() const;
  // Shows the output window (reopening it when closed).
  void show_output();
  // Connects to `device` as "Connetti" in the printer tree does.
  bool connect_to(const std::optional<std::string>& device);
  // Opens the script of the output record at output line `line`, and selects its line.
  bool go_to_source(int line);

  // The tip-of-the-day window (nothing when the tip file has no tips).
  void show_tips();

  // Runs after each debugger stop is shown; for tools that picture the debugger.
  std::function<void()> on_debug_shown;

  // session_host
  void record_added(const testbench::output_record& record) override;
  bool ask(std::string_view text, bool yes_no) override;
  std::int32_t error_window(std::string_view title, std::string_view text) override;
  void pump(int ms) override;
  testbench::debug_command debug_stop(int line, std::string& text, int& caret_line) override;
  void slip_prompt(std::string_view text, bool shown) override;
  void progress(int position, int range) override;
  void beep() override;
  void properties_changed() override;
  void connection_changed() override;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  bool italian() const { return session_->italian(); }
  void build_menus();
  void build_toolbars();
  void build_status_bar();
  void build_property_list();
  void update_recent_menu();
  void apply_colours();
  QColor colour_of(std::string_view key, int fallback) const;

  // Commands.
  void open_dialog();
  void save_script(bool ask_path);
  void select_printer();
  void disconnect_printer();
  void script_command(const std::function<void(CPRNView&)>& command);
  void edit_sequence();
  void customise();
  void show_help();
  void save_log();
  void show_device_information();
  void build_image_commands();
  void apply_filter(CIMGFrame& frame, int filter);
  void save_image(CIMGFrame& frame, bool ask_path);
  // After a change of an image window's picture: the window and the property window.
  void image_changed(CIMGFrame& frame);

  testbench::settings& config_;
  std::unique_ptr<testbench::session> session_;
  std::vector<std::string> templates_;
  QMdiArea* mdi_ = nullptr;
  COutView* output_ = nullptr;
  QMdiSubWindow* output_window_ = nullptr;
  QDockWidget* dock_ = nullptr;
  QTreeWidget* properties_ = nullptr;
  QLabel* message_ = nullptr;
  QProgressBar* progress_ = nullptr;
  QLabel* connection_ = nullptr;
  std::vector<QToolBar*> toolbars_;
  QMenu* recent_menu_ = nullptr;
  QActionGroup* work_modes_ = nullptr;
  QActionGroup* print_modes_ = nullptr;
  QActionGroup* stations_ = nullptr;
  QAction* edit_sequence_ = nullptr;
  PosDebugWindow* debug_ = nullptr;
  QWidget* slip_window_ = nullptr;
  QSocketNotifier* queue_notifier_ = nullptr;
  CPRNView* running_script_ = nullptr;
  bool filling_properties_ = false;
  std::map<testbench::image_command, QAction*> image_actions_;
  QDockWidget* image_dock_ = nullptr;
  ImageProperties* image_properties_ = nullptr;
  int halftone_type_ = testbench::kHalftoneDefault;
  // True while a filter works on a picture off the user-interface thread.
  bool filtering_ = false;
};

}  // namespace testbench_view
