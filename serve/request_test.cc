// Request translation of qor-serve: the number forms, routes and the name search parameters.
#include "request.h"

#include <gtest/gtest.h>

namespace {

TEST(ServeNumber, FormsPbxsSendGiveTheNationalDigits) {
  for (const char* form : {"0312345678", "03-1234-5678", "+81312345678", "81312345678",
                           "+81 3-1234-5678", "tel:+81-3-1234-5678", "TEL:+81-3-1234-5678;x=1",
                           "+81 (0)3 1234 5678", "(03) 1234.5678"}) {
    std::string digits;
    EXPECT_EQ(Number_Normalise(form, &digits), NumberForm::kNational) << form;
    EXPECT_EQ(digits, "0312345678") << form;
  }
  std::string digits;
  EXPECT_EQ(Number_Normalise("+81 123-45-678", &digits), NumberForm::kNational);
  EXPECT_EQ(digits, "012345678");
}

TEST(ServeNumber, ElevenDigitsAndOtherCountriesAreNotHeld) {
  for (const char* form : {"09012345678", "+81 90-1234-5678", "819012345678", "08001234567",
                           "+4930123456", "+1 212 555 0100"}) {
    std::string digits = "x";
    EXPECT_EQ(Number_Normalise(form, &digits), NumberForm::kNotHeld) << form;
    EXPECT_EQ(digits, "") << form;
  }
}

TEST(ServeNumber, WhatIsNoNumberIsBad) {
  for (const char* form : {"", "+", "0", "81", "+81", "tel:", "12345678", "312345678",
                           "03-1234-567a", "++81312345678", "03+12345678", "0123456789012345",
                           "0312345", "anonymous", "03\n1234", "03_1234_5678"}) {
    std::string digits;
    EXPECT_EQ(Number_Normalise(form, &digits), NumberForm::kBad) << form;
  }
}

TEST(ServeRequest, RoutesAndTheirErrors) {
  EXPECT_EQ(Request_Translate("/", 1, {}).route, Route::kPage);
  EXPECT_EQ(Request_Translate("/v1/regions", 11, {}).route, Route::kRegions);
  const ServeRequest cid = Request_Translate("/cid/+81312345678", 17, {});
  EXPECT_EQ(cid.route, Route::kCid);
  EXPECT_EQ(cid.key, "0312345678");
  EXPECT_EQ(Request_Translate("/cid/09012345678", 16, {}).key, "");
  EXPECT_EQ(Request_Translate("/cid/03/1234", 12, {}).status, 400);
  EXPECT_EQ(Request_Translate("/v1/number/x", 12, {}).status, 400);
  EXPECT_EQ(Request_Translate("/cid", 4, {}).status, 404);
  EXPECT_EQ(Request_Translate("/etc/passwd", 11, {}).status, 404);
  EXPECT_EQ(Request_Translate("/", kMaxTarget + 1, {}).status, 414);
}

TEST(ServeRequest, NameSearchParameters) {
  ServeRequest r = Request_Translate(
      "/v1/name", 0, {{"region", "01101"}, {"pattern", "sato*"}, {"address1", "1"}, {"kind", "2"},
                      {"limit", "1000"}});
  ASSERT_EQ(r.status, 200) << r.error;
  EXPECT_EQ(r.region, 1101u);
  EXPECT_EQ(r.kind, 2u);
  EXPECT_EQ(r.limit, 1000u);
  // Widened to full-width code page 932: "ｓａｔｏ＊", "１".
  EXPECT_EQ(r.pattern, "\x82\x93\x82\x81\x82\x94\x82\x8f\x81\x96");
  EXPECT_EQ(r.address1, "\x82\x50");
  r = Request_Translate("/v1/name", 0, {{"region", "13101"}, {"pattern", "\xE4\xBD\x90*"}});
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.limit, kDefaultLimit);
  EXPECT_EQ(r.kind, 3u);
  const QueryParams bad[] = {
      {{"pattern", "a"}},
      {{"region", "13101"}},
      {{"region", "50000"}, {"pattern", "a"}},
      {{"region", "-1"}, {"pattern", "a"}},
      {{"region", "000013101"}, {"pattern", "a"}},
      {{"region", "13101"}, {"pattern", "* ?\xE3\x80\x80"}},
      {{"region", "13101"}, {"pattern", "\xFF"}},
      {{"region", "13101"}, {"pattern", "\xF0\x9F\x98\x80"}},
      {{"region", "13101"}, {"pattern", std::string(81, 'a')}},
      {{"region", "13101"}, {"pattern", "a"}, {"address1", std::string(41, 'a')}},
      {{"region", "13101"}, {"pattern", "a"}, {"kind", "0"}},
      {{"region", "13101"}, {"pattern", "a"}, {"limit", "1001"}},
      {{"region", "13101"}, {"pattern", "a"}, {"limit", "0"}},
      {{"region", "13101"}, {"pattern", "a"}, {"pattern", "b"}},
      {{"region", "13101"}, {"pattern", "a"}, {"sort", "name"}},
  };
  for (const QueryParams& params : bad) {
    const ServeRequest e = Request_Translate("/v1/name", 0, params);
    EXPECT_EQ(e.status, 400) << params.back().first << "=" << params.back().second;
    EXPECT_FALSE(e.error.empty());
  }
}

}  // namespace
