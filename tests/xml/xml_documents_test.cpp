#include "fiscal/xml_documents.h"

#include <gtest/gtest.h>

#include "platform/codepage.h"

namespace vekta {
namespace {

const std::string kDecl = "<?xml version=\"1.0\"?>";

TEST(XmlDocumentsTest, ConfigurationAndTaxesDocuments) {
  PrinterConfig config;
  config.serialNumber = "5001234567";
  config.fiscalNumber = "          ";
  config.owner = Utf8ToCp1251("ТОВ \"Ромашка\" & <Син>");
  config.date = "01/15/24";
  config.time = "10:30:00";
  config.keyPosition = 'R';
  config.maxArticles = 9999;
  config.moneyDate = "01/01/24";
  config.decPointPosition = 2;
  config.moneyName = "UAH";
  config.taxes[3] = TaxEntry{"01/01/24", '1', "2000", "20.00"};
  config.taxes[5] = TaxEntry{"", 0, "", ""};  // an empty record: type 0, not "0"
  const std::string tax = "<tax index=\"3\" date=\"01/01/24\" type=\"1\" value=\"20.00\"/>";
  EXPECT_EQ(Cp1251ToUtf8(BuildConfigXml(config)),
            kDecl +
                "<vekta_printer_config><common SerialNumber=\"5001234567\" FiscalNumber=\"\" "
                "Owner=\"ТОВ 'Ромашка' &amp; &lt;Син&gt;\" date=\"01/15/24\" time=\"10:30:00\" "
                "KeyPosition=\"R\" MaxArticles=\"9999\"/><money date=\"01/01/24\" "
                "DecPointPosition=\"2\" name=\"UAH\"/><taxes>" +
                tax + "</taxes></vekta_printer_config>");
  EXPECT_EQ(BuildTaxesXml(config), kDecl + "<vekta_taxes><taxes>" + tax + "</taxes></vekta_taxes>");

  // No programmed tax, an owner of blanks and no key position yet.
  PrinterConfig bare;
  bare.owner = std::string(36, ' ');
  const std::string xml = BuildConfigXml(bare);
  EXPECT_NE(xml.find("Owner=\"\""), std::string::npos);
  EXPECT_NE(xml.find("KeyPosition=\"\""), std::string::npos);
  EXPECT_EQ(BuildTaxesXml(bare), kDecl + "<vekta_taxes><taxes></taxes></vekta_taxes>");
}

TEST(XmlDocumentsTest, ReplyFieldsAreCutAtFixedPositionsAndEscaped) {
  const std::string article = "0007" + Utf8ToCp1251("Хліб \"Бородинський\" & Ко") + "1" +
                              "AB      " + "0000001500" + "0000031500";
  ASSERT_EQ(article.size(), 57u);
  EXPECT_EQ(Cp1251ToUtf8(BuildArticleXml(article)),
            kDecl +
                "<vekta_article><article index=\"0007\" name=\"Хліб &quot;Бородинський&quot; "
                "&amp; Ко\" dividual=\"1\" taxes=\"AB      \" soldqty=\"0000001500\" "
                "salesum=\"0000031500\"/></vekta_article>");
  EXPECT_EQ(BuildArticleXml("0007Bread"),
            kDecl +
                "<vekta_article><article index=\"0007\" name=\"Bread\" dividual=\"\" "
                "taxes=\"\" soldqty=\"\" salesum=\"\"/></vekta_article>");

  // Eight fields of 11; a short reply leaves a field cut and those after it empty.
  std::string cash;
  for (char c = 'a'; c < 'a' + 8; ++c) cash += std::string(11, c);
  EXPECT_EQ(BuildCashInfoXml(cash),
            kDecl +
                "<vekta_cash_info><cash_info rest=\"aaaaaaaaaaa\" income=\"bbbbbbbbbbb\" "
                "outcome=\"ccccccccccc\" sales=\"ddddddddddd\" return=\"eeeeeeeeeee\" "
                "total=\"fffffffffff\" check_income=\"ggggggggggg\" check_outcome=\"hhhhhhhhhhh\"/>"
                "</vekta_cash_info>");
  EXPECT_NE(
      BuildCashInfoXml(cash.substr(0, 30))
          .find("income=\"bbbbbbbbbbb\" outcome=\"cccccccc\" sales=\"\" return=\"\" total=\"\" "
                "check_income=\"\" check_outcome=\"\"/>"),
      std::string::npos);

  // Fields 9 and 20 of the fiscal registers are in no attribute.
  std::string fiscal;
  for (int k = 0; k < 22; ++k) fiscal += std::string(12, static_cast<char>('A' + k));
  const std::string doc = BuildFiscalInfoXml(fiscal);
  EXPECT_EQ(doc.find_first_of("JU"), std::string::npos);
  EXPECT_NE(doc.find("total=\"AAAAAAAAAAAA\" tax1_total=\"BBBBBBBBBBBB\""), std::string::npos);
  EXPECT_NE(doc.find("tax8_total=\"IIIIIIIIIIII\" untaxed_total=\"KKKKKKKKKKKK\" "
                     "return=\"LLLLLLLLLLLL\" tax1_return=\"MMMMMMMMMMMM\""),
            std::string::npos);
  EXPECT_NE(doc.find("tax8_return=\"TTTTTTTTTTTT\" untaxed_return=\"VVVVVVVVVVVV\"/>"
                     "</vekta_fiscal_info>"),
            std::string::npos);

  // Control bytes cannot break a document.
  EXPECT_EQ(EscapeXmlValue(std::string("a\001b\tc\0d", 7)), "a?b\tc?d");
}

TEST(XmlDocumentsTest, CheckResultFromTheClosingReply) {
  const CheckResultFields fields =
      ParseCheckResultFields("0000000125000000150000000000000000000250" + std::string(50, '0'));
  EXPECT_EQ(FormatCheckResultText(fields), "125;1500;0;250;0;0;0;0;0");
  EXPECT_EQ(BuildCheckResultXml(fields),
            kDecl +
                "<vekta_check_info><check_info check_number=\"125\" total=\"1500\" "
                "onsale_taxes=\"0\" included_taxes=\"250\" saleincluded_taxes=\"0\" "
                "return=\"0\" return_onsale_taxes=\"0\" return_included_taxes=\"0\" "
                "return_saleincluded_taxes=\"0\"/></vekta_check_info>");

  // Read as strtoll reads: blanks, a sign, digits up to the first other character; each field
  // on its own 10 characters; missing fields read 0.
  EXPECT_EQ(FormatCheckResultText(
                ParseCheckResultFields("      -125+00000004212abc45678          999999999977")),
            "-125;42;12;0;9999999999;77;0;0;0");
  EXPECT_EQ(FormatCheckResultText(ParseCheckResultFields("")), "0;0;0;0;0;0;0;0;0");
}

}  // namespace
}  // namespace vekta
