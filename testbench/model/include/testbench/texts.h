// The test environment's string table: every message, caption and label in Italian and English,
// chosen by the "Language" setting ("ITA" selects Italian, anything else English).
#pragma once

#include <string>
#include <string_view>

namespace testbench {

// Texts by meaning. Those that the message box shows by number carry that number.
enum class txt : int {
  // Numbered strings of the message box and the output window.
  s130_save_before_close = 130,
  s131_confirm_save = 131,
  s133_confirm_convert = 133,
  s134_confirm_disconnect = 134,
  s140_image_io_error = 140,
  s141_not_a_bitmap = 141,
  s143_image_format_error = 143,
  s148_image_load_error = 148,
  s149_close_while_connected = 149,
  s151_compressed_bitmap = 151,
  s153_version_next_connection = 153,
  s154_unknown_file_type = 154,
  s156_claim_retry = 156,
  s157_no_printer_selected = 157,
  s158_empty_command = 158,
  s159_zero_count = 159,
  s160_delete_image_error = 160,
  s161_rich_edit_failed = 161,
  s500_close_error = 500,
  s501_connect_error = 501,
  s502_create_error = 502,
  s503_close_error_detail = 503,
  s507_driver_init_error = 507,
  s600_guide_lines_unavailable = 600,
  s601_image_too_wide = 601,
  s602_still_connected = 602,
  s701_command_failed = 701,
  s710_connection_ended = 710,
  s711_connection_active = 711,
  s712_disconnect_ok = 712,
  s812_create_error_detail = 812,
  s814_needs_connection = 814,

  // Unnumbered texts.
  app_title = 10000,
  msgbox_caption,
  button_ok,
  button_cancel,
  button_yes,
  button_no,
  status_no_connection,
  status_active_suffix,
  tree_root,
  tree_model,
  tree_port,
  connecting_caption,
  connecting_text,
  event_status,
  event_status_detail,
  event_output,
  event_output_detail,
  event_direct,
  event_direct_detail,
  event_error,
  event_error_detail,
  error_window_title,
  error_window_async,
  error_window_code,
  error_window_extended,
  error_window_more,
  error_window_device,
  error_window_description,
  error_window_retry,
  error_window_clear,
  exec_error,
  exec_error_detail,
  command_ok,
  station_set,
  station_set_detail,
  transaction_off,
  transaction_on,
  rotation_off,
  rotation_on,
  barcode_ok,
  direct_error,
  slip_insert,
  slip_remove,
  empty_document,
  empty_document_detail,
  print_ok,
  script_exec_error,
  script_exec_error_detail,
  check_title,
  check_error_detail,
  check_ok_detail,
  logo_ok,
  logo_error_detail,
  summary_title,
  summary_title_sending,
  summary_detail,
  device_info_none,
  message_output_title,
  // Image windows.
  image_load_error_title,
  image_save_title,
  image_close_title,
  image_delete_error_title,
  image_processing,
  status_ready,
  image_print_line,
  image_async_job,
  image_async_job_detail,
  image_print_collected,
  image_print_ok_detail,
  image_print_error_detail,
  image_store_limit,
  image_store_limit_detail,
  image_download,
  image_pixels,
  image_true_colour,
  image_save_as_filter,
  image_menu,
  image_toolbar,
  image_management_menu,
  resize_title,
  resize_width,
  resize_height,
  resize_keep,
  delete_images_title,
  delete_images_text,
  delete_images_button,
  delete_images_close,
  delete_images_box1,
  delete_images_box2,
  image_print_bitmap_menu,
  image_replace_question,
};

// The text in the language; Italian when `italian` is true.
std::string_view text(txt id, bool italian);

// One colour of the script editor's colour table.
struct colour_row {
  std::string_view italian;
  std::string_view english;
  int red;
  int green;
  int blue;
};
// Number of colours in the table (indexes 0 to 12).
inline constexpr int kColourCount = 13;
// The colour of `index`; any index outside the table is black.
colour_row colour(int index);

// The language setting's value that selects Italian.
inline constexpr std::string_view kItalian = "ITA";
// True when `language` selects Italian (exactly "ITA").
inline bool is_italian(std::string_view language) { return language == kItalian; }

}  // namespace testbench
