// The builder's input: every kind of bad TSV row or area code line is refused with a message
// naming the line and the field, and then no dictionary file (nor a temporary) is left.
#include "mkdict/tsv_input.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace {

const char kHeader[] =
    "kind\tregion_code\tnumber\tpostal_code\tname\tregion_name1\tregion_name2\taddress1\taddress2\n";
// 佐藤 太郎, 東京都, 千代田区, 丸の内
const char kGoodRow[] =
    "1\t13101\t03-1234-5678\t100-0005\t\u4F50\u85E4 \u592A\u90CE\t\u6771\u4EAC\u90FD\t"
    "\u5343\u4EE3\u7530\u533A\t\u4E38\u306E\u5185\t1-1-1\n";

struct Row {
  std::string kind = "1", region = "13101", number = "03-1234-5678", postal = "100-0005";
  std::string name = "\u4F50\u85E4 \u592A\u90CE", region1 = "\u6771\u4EAC\u90FD";
  std::string region2 = "\u5343\u4EE3\u7530\u533A", address1 = "\u4E38\u306E\u5185";
  std::string address2 = "1-1-1", correction = "add", version = "100";
  std::string Text(bool withCorrection) const {
    std::string text = kind + "\t" + region + "\t" + number + "\t" + postal + "\t" + name + "\t" +
                       region1 + "\t" + region2 + "\t" + address1 + "\t" + address2;
    if (withCorrection) text += "\t" + correction + "\t" + version;
    return text + "\n";
  }
};

std::string Header(bool correction) {
  std::string header = kHeader;
  if (correction) header.insert(header.size() - 1, "\tcorrection\tversion");
  return header;
}

std::string Repeat(const std::string& unit, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += unit;
  return out;
}

// Runs the builder on a TSV text in a fresh directory and returns its message ("" on success).
// Checks that a failed run leaves only the input behind.
std::string RunOn(const std::string& tsv, bool correction = false) {
  TempDir dir;
  MkDictJob job;
  job.inputPath = dir.Write("in.tsv", tsv);
  job.outputPath = dir.File("qor0101.dct");
  job.options.correction = correction;
  DictBuildStats stats;
  std::string error;
  bool ok = MkDict_Run(job, &stats, &error);
  if (ok) {
    EXPECT_TRUE(dir.Exists("qor0101.dct"));
    EXPECT_EQ(dir.EntryCount(), 2);
    return "";
  }
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(dir.Exists("qor0101.dct")) << error;
  EXPECT_EQ(dir.EntryCount(), 1) << "a temporary file was left: " << error;
  return error;
}

// The message for one bad row after a good one: it must name line 3 and the field.
void ExpectRefused(const Row& row, const std::string& field, const std::string& detail,
                   bool correction = false) {
  std::string error = RunOn(Header(correction) + Row().Text(correction) + row.Text(correction),
                            correction);
  EXPECT_NE(error.find("in.tsv: line 3, field " + field + ": "), std::string::npos)
      << field << " " << detail << ": " << error;
  EXPECT_NE(error.find(detail), std::string::npos) << error;
}

TEST(TsvInputTest, AGoodFileIsBuilt) {
  EXPECT_EQ(RunOn(std::string("\xEF\xBB\xBF") + kHeader + kGoodRow + "\r\n" + kGoodRow), "");
  // Columns in another order, numbers without hyphens, CRLF line ends.
  EXPECT_EQ(RunOn("number\tkind\tname\tregion_code\tpostal_code\taddress1\taddress2\t"
                  "region_name1\tregion_name2\r\n"
                  "0312345678\t2\t\uFF76\uFF9E\uFF7D\t101\t1000005\t\t\t\t\r\n"),
            "");
  Row correction;
  EXPECT_EQ(RunOn(Header(true) + correction.Text(true), true), "");
}

TEST(TsvInputTest, RefusesBadKindsNumbersPostalCodesAndRegionCodes) {
  Row r;
  r.kind = "3";
  ExpectRefused(r, "kind", "\"3\" is not 1 or 2");
  r = Row();
  r.kind = "";
  ExpectRefused(r, "kind", "is not 1 or 2");
  for (const char* bad : {"03-123-456", "3-1234-56789", "031234567890", "03-1234-56x8", ""}) {
    r = Row();
    r.number = bad;
    ExpectRefused(r, "number", "9 or 10 digits with a leading zero");
  }
  r = Row();
  r.number = "00-1234-5678";
  ExpectRefused(r, "number", "starting with 00");
  for (const char* bad : {"100-005", "10-00005", "1000-005", "10000050", "abc-defg", ""}) {
    r = Row();
    r.postal = bad;
    ExpectRefused(r, "postal_code", "7 digits");
  }
  r = Row();
  r.region = "50000";
  ExpectRefused(r, "region_code", "from 0 to 49999");
  r.region = "-1";
  ExpectRefused(r, "region_code", "from 0 to 49999");
}

TEST(TsvInputTest, RefusesTextsTooLongForTheirFields) {
  const std::string kanji = "\u6F22";  // two bytes in CP932
  Row r;
  r.name = Repeat(kanji, 201);
  ExpectRefused(r, "name", "402 bytes in code page 932, at most 400");
  r = Row();
  r.name = Repeat("a", 201);  // ASCII letters become two-byte characters
  ExpectRefused(r, "name", "402 bytes");
  r = Row();
  r.address1 = Repeat(kanji, 101);
  ExpectRefused(r, "address1", "202 bytes in code page 932, at most 200");
  r = Row();
  r.address2 = Repeat("1", 201);
  ExpectRefused(r, "address2", "201 bytes in code page 932, at most 200");
  r = Row();
  r.region1 = Repeat(kanji, 6);
  ExpectRefused(r, "region_name1", "12 bytes in code page 932, at most 10");
  r = Row();
  r.region2 = Repeat("x", 41);
  ExpectRefused(r, "region_name2", "41 bytes in code page 932, at most 40");

  // At the limits the row is accepted.
  r = Row();
  r.name = Repeat(kanji, 200);
  r.address1 = Repeat(kanji, 100);
  r.address2 = Repeat("1", 200);
  r.region1 = Repeat(kanji, 5);
  r.region2 = Repeat("x", 40);
  EXPECT_EQ(RunOn(Header(false) + r.Text(false)), "");
}

TEST(TsvInputTest, RefusesTextsTheCodePageCannotHoldAndEmptyPersonNames) {
  Row r;
  r.name = "\u4F50\u85E4\u20AC";
  ExpectRefused(r, "name", "U+20AC");
  r = Row();
  r.address2 = "caf\u00E9";
  ExpectRefused(r, "address2", "U+00E9");
  r = Row();
  r.region2 = "\U0001F600";
  ExpectRefused(r, "region_name2", "U+1F600");
  r = Row();
  r.address1 = "a\x7f";
  ExpectRefused(r, "address1", "control character");
  r = Row();
  r.name = "";
  ExpectRefused(r, "name", "empty");
  r.kind = "2";  // a business may have an empty name
  EXPECT_EQ(RunOn(Header(false) + r.Text(false)), "");
}

TEST(TsvInputTest, RefusesBadCorrectionWordsAndVersions) {
  Row r;
  r.correction = "modify";
  ExpectRefused(r, "correction", "is not add or remove", true);
  r = Row();
  r.version = "2048";
  ExpectRefused(r, "version", "from 0 to 2047", true);
  r.version = "";
  ExpectRefused(r, "version", "from 0 to 2047", true);
  r.version = "2047";
  EXPECT_EQ(RunOn(Header(true) + r.Text(true), true), "");
}

TEST(TsvInputTest, RefusesBadHeadersAndRows) {
  EXPECT_NE(RunOn("").find("no header row"), std::string::npos);
  std::string missing = kHeader;
  missing.erase(missing.find("\taddress2"), 9);
  EXPECT_NE(RunOn(missing + kGoodRow).find("line 1: the header lacks column \"address2\""),
            std::string::npos);
  EXPECT_NE(RunOn("colour\t" + std::string(kHeader) + "x\t" + kGoodRow).find("unknown column \"colour\""),
            std::string::npos);
  // The correction columns only belong to the correction file.
  EXPECT_NE(RunOn(Header(true) + Row().Text(true)).find("correction file"), std::string::npos);
  EXPECT_NE(RunOn(Header(false) + Row().Text(false), true).find("lacks column \"correction\""),
            std::string::npos);
  EXPECT_NE(RunOn(std::string(kHeader) + "\n" + "1\t13101\n").find("line 3: 2 fields"),
            std::string::npos);
}

TEST(TsvInputTest, RefusesDifferentNamesForOneRegionCode) {
  Row r;
  r.region2 = "\u4E2D\u592E\u533A";  // 中央区 where line 2 said 千代田区
  ExpectRefused(r, "region_name1", "region code 13101");
  std::string error = RunOn(Header(false) + Row().Text(false) + r.Text(false));
  EXPECT_NE(error.find("on line 2"), std::string::npos) << error;
}

TEST(TsvInputTest, RefusesDataThatCannotFitInOneDictionary) {
  std::string tsv = Header(false);
  for (int code = 0; code < 257; ++code) {
    Row r;
    r.region = std::to_string(code);
    tsv += r.Text(false);
  }
  EXPECT_NE(RunOn(tsv).find("data cannot fit in one dictionary"), std::string::npos);
}

TEST(TsvInputTest, AFailedRunLeavesAnExistingDictionaryAsItWas) {
  TempDir dir;
  MkDictJob job;
  job.inputPath = dir.Write("in.tsv", std::string(kHeader) + "9\n");
  job.outputPath = dir.Write("qor0101.dct", "old contents");
  DictBuildStats stats;
  std::string error;
  EXPECT_FALSE(MkDict_Run(job, &stats, &error));
  EXPECT_EQ(dir.EntryCount(), 2);
  std::string contents;
  ASSERT_TRUE(ReadWholeFile(job.outputPath, &contents, &error));
  EXPECT_EQ(contents, "old contents");
  // A missing input is named.
  job.inputPath = dir.File("none.tsv");
  EXPECT_FALSE(MkDict_Run(job, &stats, &error));
  EXPECT_NE(error.find("cannot read " + job.inputPath), std::string::npos) << error;
}

TEST(AreaCodesTest, ParsesCodesWithTheirLeadingZero) {
  std::vector<uint32_t> values;
  std::string error;
  ASSERT_TRUE(AreaCodes_Parse("# Tokyo\n03\n0422\r\n\n  01267 \n0425\n099999\n", &values, &error))
      << error;
  EXPECT_EQ(values, (std::vector<uint32_t>{3, 422, 1267, 425, 99999}));
  for (const char* bad : {"3\n", "0\n", "003\n", "0123456\n", "03a\n", "03-1\n"}) {
    EXPECT_FALSE(AreaCodes_Parse(std::string("03\n") + bad, &values, &error)) << bad;
    EXPECT_NE(error.find("line 2: "), std::string::npos) << error;
  }
}

TEST(AreaCodesTest, ABadAreaCodeFileIsNamedAndNothingIsWritten) {
  TempDir dir;
  MkDictJob job;
  job.inputPath = dir.Write("in.tsv", std::string(kHeader) + kGoodRow);
  job.areaCodesPath = dir.Write("areas.txt", "03\n3\n");
  job.outputPath = dir.File("qor0101.dct");
  DictBuildStats stats;
  std::string error;
  EXPECT_FALSE(MkDict_Run(job, &stats, &error));
  EXPECT_NE(error.find("areas.txt: line 2: "), std::string::npos) << error;
  EXPECT_FALSE(dir.Exists("qor0101.dct"));
}

}  // namespace
