#include "link/status_table.h"

namespace vekta {

// The order matters: a reply may hold several words, and the earlier row names the fault.
const std::array<StatusRow, 42> kStatusTable = {{
    {"SOFTBLOCK", 2000},  {"SOFTNREP", 2001},    {"SOFTSYSLOCK", 2002}, {"SOFTCOMMAN", 2003},
    {"SOFTPROTOC", 2004}, {"SOFTZREPOR", 2005},  {"SOFTFMFULL", 2006},  {"SOFTTIMER", 2007},
    {"SOFTPARAM", 2008},  {"SOFTUPAS", 2009},    {"SOFTCHECK", 2010},   {"SOFTFACT", 2011},
    {"SOFTSLWORK", 2012}, {"SOFTSLPROG", 2013},  {"SOFTSLZREP", 2014},  {"SOFTSLNREP", 2015},
    {"SOFTREPL", 2016},   {"SOFTREGIST", 2017},  {"SOFTMONEY", 2018},   {"SOFTOVER", 2019},
    {"HARDPAPER", 2020},  {"HARDSENSOR", 2021},  {"HARDPOINT", 2022},   {"HARDTXD", 2023},
    {"HARDTIMER", 2024},  {"HARDMEMORY", 2025},  {"HARDLCD", 2039},     {"SHUTDOWN", 2040},
    {"SOFTNEED", 2026},   {"SOFTACTIVE", 2027},  {"SOFTFMTEST", 2028},  {"SOFTOPTEST", 2029},
    {"SOFT24HOUR", 2030}, {"SOFTDIFART", 2031},  {"SOFTBADART", 2032},  {"SOFTCOPY", 2033},
    {"SOFTOVART", 2034},  {"SOFTOVTRK", 2035},   {"SOFTBADDISC", 2036}, {"SOFFPOSNO", 2037},
    {"SOFTBADCS", 2041},  {"SOFTARTMODE", 2042},
}};

const StatusRow* FindStatusRow(std::string_view reply) {
  for (const StatusRow& row : kStatusTable) {
    if (reply.find(row.word) != std::string_view::npos) return &row;
  }
  return nullptr;
}

bool IsErrorStatus(std::string_view reply) {
  // "SOFFPOSNO" is the one word that does not begin with "SOFT"; it is a refusal all the same.
  return reply.find("SOFT") != std::string_view::npos ||
         reply.find("HARD") != std::string_view::npos ||
         reply.find("SHUTDOWN") != std::string_view::npos ||
         reply.find("SOFFPOSNO") != std::string_view::npos;
}

}  // namespace vekta
