// Tests of the test environment's model without the control object: settings and their first
// run, the number-to-name tables, the property table with its display and write rules, output
// records and the texts of events and dumps.
#include <fstream>

#include <gtest/gtest.h>

#include "platform/registry.h"
#include "platform/testing/temp_dir.h"
#include "testbench/literals.h"
#include "testbench/output.h"
#include "testbench/property_table.h"
#include "testbench/settings.h"
#include "testbench/texts.h"

namespace {

using namespace testbench;

const std::filesystem::path kData = TESTBENCH_DATA_DIR;

void write_file(const std::filesystem::path& path, std::string_view text) {
  std::ofstream(path, std::ios::binary) << text;
}

TEST(TestbenchSettings, FirstStartWritesEveryDefaultAndASecondStartKeepsChanges) {
  platform::testing::scoped_registry_dir registry;
  settings first("/opt/poskit/testbench");
  EXPECT_EQ(first.language(), "ENG") << "read with default ENG before anything is written";
  ASSERT_TRUE(first.apply_first_run());

  for (const default_row& row : first_run_defaults()) {
    platform::registry_key key;
    ASSERT_EQ(platform::registry_key::open(platform::registry_root::current_user,
                                           std::string(kSettingsKey) + "\\" + std::string(row.section), key),
              platform::kErrorSuccess);
    if (row.is_integer) {
      std::uint32_t value = 99;
      ASSERT_EQ(key.query_dword(row.key, value), platform::kErrorSuccess) << row.key;
      EXPECT_EQ(static_cast<std::int32_t>(value), row.number) << row.key;
    } else {
      std::string value;
      ASSERT_EQ(key.query_string(row.key, value), platform::kErrorSuccess) << row.key;
    }
  }
  EXPECT_EQ(first.app_path(), "/opt/poskit/testbench");
  EXPECT_EQ(first.get_string(kSectionSettings, "EscFile"), "/opt/poskit/testbench/Escape.dat");
  EXPECT_EQ(first.get_string(kSectionSettings, "COPOSPrinterID"), "CONTROLObject.KorvanePOSPrinter.1");
  EXPECT_EQ(first.language(), "ITA");
  EXPECT_TRUE(first.italian());
  EXPECT_EQ(first.opos_version(), 14);
  EXPECT_EQ(first.property_table_file(), "/opt/poskit/testbench/Testbench_140.dat");
  EXPECT_EQ(first.tips_file(), "/opt/poskit/testbench/Language/Testbench_ITA.tip");

  ASSERT_TRUE(first.set_int(kSectionSettings, "CommandColor", 4));
  ASSERT_TRUE(first.set_string(kSectionSettings, "Language", "ENG"));
  settings second("/elsewhere");
  EXPECT_FALSE(second.apply_first_run());
  EXPECT_EQ(second.get_int(kSectionSettings, "CommandColor"), 4);
  EXPECT_EQ(second.language(), "ENG");
  EXPECT_EQ(second.app_path(), "/opt/poskit/testbench");
}

TEST(TestbenchSettings, RecentFilesKeepTheFourNewestWithoutDuplicates) {
  platform::testing::scoped_registry_dir registry;
  settings s("/x");
  for (const char* f : {"a.txt", "b.txt", "c.oef", "d.txt", "b.txt", "e.txt"}) s.add_recent_file(f);
  EXPECT_EQ(s.recent_files(), (std::vector<std::string>{"e.txt", "b.txt", "d.txt", "c.oef"}));
}

TEST(TestbenchSettings, TipsNeedTheirCountLine) {
  EXPECT_EQ(parse_tips(";{{Lines=2}}\r\nfirst\r\n; note\r\n\r\nsecond\r\nthird\r\n"),
            (std::vector<std::string>{"first", "second"}));
  EXPECT_TRUE(parse_tips("first\nsecond\n").empty());
  for (const char* language : {"ITA", "ENG"}) {
    std::ifstream in(kData / "Language" / (std::string("Testbench_") + language + ".tip"));
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(parse_tips(text).size(), 6u) << language;
  }
}

TEST(TestbenchLiterals, ErrorTextLookupNamesCodesExtendedCodesAndFallsBackToTheNumber) {
  const literal_tables shipped(kData / "CLiteral.ini", kData / "CNumber.ini");
  struct row {
    std::int32_t code;
    std::int32_t extended;
    std::string_view prefix;
    std::string want;
  };
  const row rows[] = {
      {106, 0, "", "OPOS_E_ILLEGAL"},
      {0, 0, "", "OPOS_SUCCESS"},
      {114, 203, "", "OPOS_EPTR_REC_EMPTY"},  // 114 is reported by its extended code
      {114, 201, "Codice", "Codice: OPOS_EPTR_COVER_OPEN"},
      {114, 999, "", "999"},
      {4242, 0, "", "4242"},  // not in the table: the bare number
  };
  for (const row& r : rows) EXPECT_EQ(shipped.error_text(r.code, r.extended, r.prefix), r.want) << r.code;

  // Every result code 101 to 114 and every extended code the service object reports is named.
  for (std::int32_t code = 101; code <= 114; ++code) EXPECT_NE(shipped.name("ERROR", code), std::to_string(code));
  for (std::int32_t code : {201, 203, 207}) EXPECT_NE(shipped.name("ERROR", code), std::to_string(code));

  platform::testing::temp_dir dir;
  write_file(dir / "CLiteral.ini", "[ERROR]\n101=OPOS_E_CLOSED\n");
  const literal_tables partial(dir / "CLiteral.ini", dir / "missing.ini");
  EXPECT_EQ(partial.error_text(106, 0), "106");
  EXPECT_EQ(partial.name("MAPMODE", 1), "1");
  EXPECT_EQ(partial.number("MAPMODE", "PTR_MM_DOTS"), 0);
  EXPECT_EQ(shipped.number("MAPMODE", "PTR_MM_METRIC"), 4);
  EXPECT_EQ(shipped.number("POWERNOTIFY", "OPOS_PN_ENABLED"), 1);
}

TEST(TestbenchPropertyTable, RowsKindsArgumentsAndSkippedLines) {
  const std::vector<property_row> rows = parse_property_table(
      "; comment\r\n"
      "\r\n"
      "C,Common\r\n"
      "E,CharacterSet,998\r\n"
      "L:MapMode,PTR_MM_DOTS,PTR_MM_DOTS|PTR_MM_METRIC\r\n"
      "R,ResultCode\r\n"
      "X,Odd,ignored,arguments\n");
  ASSERT_EQ(rows.size(), 5u);
  EXPECT_EQ(rows[0].kind, row_kind::heading);
  EXPECT_EQ(rows[0].name, "Common");
  EXPECT_FALSE(rows[0].editable());
  EXPECT_EQ(rows[1].kind, row_kind::text_edit);
  EXPECT_EQ(rows[1].value, "998");
  EXPECT_EQ(rows[2].kind, row_kind::list_edit);
  EXPECT_EQ(rows[2].name, "MapMode");
  EXPECT_EQ(rows[2].value, "PTR_MM_DOTS");
  EXPECT_EQ(rows[2].choices, (std::vector<std::string>{"PTR_MM_DOTS", "PTR_MM_METRIC"}));
  EXPECT_EQ(rows[3].kind, row_kind::read_only);
  EXPECT_EQ(rows[4].kind, row_kind::read_only);
  EXPECT_TRUE(rows[4].value.empty());

  for (int version : {14, 15, 17}) {
    const auto table = load_property_table(kData / ("Testbench_" + std::to_string(version) + "0.dat"));
    EXPECT_GT(table.size(), 50u) << version;
  }
}

TEST(TestbenchPropertyTable, DisplayAndWriteRules) {
  const literal_tables lit(kData / "CLiteral.ini", kData / "CNumber.ini");
  EXPECT_EQ(display_value("MapMode", platform::Variant(4), lit), "PTR_MM_METRIC");
  EXPECT_EQ(display_value("State", platform::Variant(2), lit), "OPOS_S_IDLE");
  EXPECT_EQ(display_value("PowerState", platform::Variant(2001), lit), "OPOS_PS_ONLINE");
  EXPECT_EQ(display_value("PowerNotify", platform::Variant(1), lit), "OPOS_PN_ENABLED");
  EXPECT_EQ(display_value("AsyncMode", platform::Variant(true), lit), "TRUE");
  EXPECT_EQ(display_value("CoverOpen", platform::Variant(false), lit), "FALSE");
  EXPECT_EQ(display_value("RecLineChars", platform::Variant(42), lit), "42");
  EXPECT_EQ(display_value("DeviceName", platform::Variant("VX40"), lit), "VX40");

  struct row {
    std::string_view name;
    std::string_view entry;
    platform::Variant want;
    bool reread_all;
  };
  const row rows[] = {
      {"AsyncMode", "true", platform::Variant(true), false},
      {"FreezeEvents", "yes", platform::Variant(false), false},
      {"SlpLetterQuality", "TRUE", platform::Variant(true), false},
      {"CharacterSet", "437", platform::Variant(437), false},
      {"SlpLineHeight", "24", platform::Variant(24), false},
      {"RecLineChars", "56", platform::Variant(56), true},
      {"RecLineSpacing", "30", platform::Variant(30), true},
      {"MapMode", "PTR_MM_METRIC", platform::Variant(4), true},
      {"PowerNotify", "OPOS_PN_ENABLED", platform::Variant(1), false},
      {"PowerNotify", "NOT_A_NAME", platform::Variant(0), false},
  };
  for (const row& r : rows) {
    const auto plan = plan_property_write(r.name, r.entry, lit);
    ASSERT_TRUE(plan.has_value()) << r.name;
    EXPECT_EQ(plan->value, r.want) << r.name << " " << r.entry;
    EXPECT_EQ(plan->reread_all, r.reread_all) << r.name;
  }
  EXPECT_FALSE(plan_property_write("ResultCode", "1", lit).has_value());
}

TEST(TestbenchOutput, RecordsReadWithTimeIndentedDetailAndSourceLinks) {
  EXPECT_EQ(format_time(14, 5, 9), "14:05.09 ");
  output_record r;
  r.hour = 9;
  r.minute = 0;
  r.second = 30;
  r.text = "(E) : Errore di esecuzione.";
  r.detail = "      Linea errore esecuzione :3|      Codice errore restituito: OPOS_E_ILLEGAL";
  EXPECT_EQ(format_record(r),
            "09:00.30 (E) : Errore di esecuzione.\n"
            "               Linea errore esecuzione :3\n"
            "               Codice errore restituito: OPOS_E_ILLEGAL\n");
  r.detail.clear();
  EXPECT_EQ(format_record(r), "09:00.30 (E) : Errore di esecuzione.\n");

  output_log log;
  log.add("(I) : Connessione attiva", "");
  log.add("(E) : Errore di esecuzione.", "a|b", "script.txt", 7);
  log.add("(I) : after", "");
  EXPECT_EQ(log.link_at(0), nullptr);
  for (int line : {1, 2, 3}) {
    const output_record* linked = log.link_at(line);
    ASSERT_NE(linked, nullptr) << line;
    EXPECT_EQ(linked->source_line, 7);
    EXPECT_EQ(linked->source, "script.txt");
  }
  EXPECT_EQ(log.link_at(4), nullptr);
  log.clear();
  EXPECT_TRUE(log.text().empty());
}

TEST(TestbenchOutput, EventTextsAndDumps) {
  struct status_row {
    std::int32_t status;
    std::string_view name;
  };
  const status_row statuses[] = {{11, "PTR_SUE_COVER_OPEN"},    {12, "PTR_SUE_COVER_OK"},
                                 {24, "PTR_SUE_REC_EMPTY"},     {25, "PTR_SUE_REC_NEAREMPTY"},
                                 {26, "PTR_SUE_REC_PAPEROK"},   {1001, "PTR_SUE_IDLE"},
                                 {2001, "OPOS_SUE_POWER_ONLINE"}, {2002, "OPOS_SUE_POWER_OFF"},
                                 {2003, "OPOS_SUE_POWER_OFFLINE"}, {2004, "OPOS_SUE_POWER_OFF_OFFLINE"},
                                 {21, "(21)"},                  {-1, "(-1)"}};
  for (const status_row& s : statuses) EXPECT_EQ(status_name(s.status), s.name);

  EXPECT_EQ(hex_bytes(std::string("\x1b\x7f\x80\xff\x00", 5)), "1B 7F 80 FF 00 ");
  EXPECT_EQ(reply_dump("001255128000016017018019020"),
            "0000   01 FF 80 00 10 11 12 13\r\n0008   14");
  EXPECT_EQ(reply_dump("01"), "");

  device_info info{1000000, "Korvane control", 1000014, "VX40 service", "VX40Device", "VX40 receipt printer"};
  EXPECT_EQ(device_info_text(info),
            "Control Object\r\n\tVersion, 1000000\r\n\tDescription, Korvane control\r\n\r\nService Object\r\n"
            "\tVersion, 1000014\r\n\tDescription, VX40 service\r\n\r\nDevice\r\n\tName, VX40Device\r\n"
            "\tDescription, VX40 receipt printer");
  EXPECT_EQ(error_window_text(true, "OPOS_E_EXTENDED", "OPOS_EPTR_COVER_OPEN", "cover open"),
            "Errore di esecuzione in asincrono\r\n" + std::string(60, '-') +
                "\r\nCodice di errore, OPOS_E_EXTENDED\r\nCodice esteso, OPOS_EPTR_COVER_OPEN\r\n"
                "Informazioni addizionali\r\nPeriferica di errore, PTR_S_RECEIPT\r\nDescrizione errore, cover open");
}

TEST(TestbenchTexts, EveryTextHasBothLanguages) {
  const txt numbered[] = {txt::s134_confirm_disconnect, txt::s156_claim_retry, txt::s501_connect_error,
                          txt::s711_connection_active, txt::s812_create_error_detail, txt::s814_needs_connection,
                          txt::s130_save_before_close, txt::s131_confirm_save, txt::s133_confirm_convert,
                          txt::s140_image_io_error, txt::s141_not_a_bitmap, txt::s143_image_format_error,
                          txt::s148_image_load_error, txt::s151_compressed_bitmap, txt::s160_delete_image_error,
                          txt::s600_guide_lines_unavailable, txt::s601_image_too_wide};
  for (txt id : numbered) {
    EXPECT_FALSE(text(id, true).empty()) << static_cast<int>(id);
    EXPECT_FALSE(text(id, false).empty()) << static_cast<int>(id);
  }
  for (int id = static_cast<int>(txt::app_title); id <= static_cast<int>(txt::image_replace_question); ++id) {
    EXPECT_FALSE(text(static_cast<txt>(id), true).empty()) << id;
    EXPECT_FALSE(text(static_cast<txt>(id), false).empty()) << id;
  }
  EXPECT_EQ(text(txt::status_no_connection, true), "Nessuna Connessione");
  EXPECT_EQ(text(txt::status_no_connection, false), "NO Connection(s)");
}

}  // namespace

namespace {

TEST(TestbenchTexts, ColourTableAndBlackOutsideIt) {
  struct row {
    int index;
    std::string_view italian;
    int red, green, blue;
  };
  const row rows[] = {{0, "Bordeaux", 128, 0, 0}, {1, "Verde", 0, 128, 0},      {7, "Grigio chiaro", 192, 192, 192},
                      {10, "Blu", 0, 0, 255},     {12, "Azzurro", 0, 255, 255}, {13, "Nero", 0, 0, 0},
                      {-1, "Nero", 0, 0, 0}};
  for (const row& r : rows) {
    const testbench::colour_row c = testbench::colour(r.index);
    EXPECT_EQ(c.italian, r.italian) << r.index;
    EXPECT_EQ(std::tie(c.red, c.green, c.blue), std::tie(r.red, r.green, r.blue)) << r.index;
  }
}

}  // namespace
