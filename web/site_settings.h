#pragma once
// Where a catalogue site keeps its songs; fixed per program at build time.
#include <string>

struct SiteSettings {
  std::string host;            // catalogue host, also the save folder's name
  std::string numberMarker;    // text that precedes the newest song number on the home page
  char numberTerminator;       // character that ends that number
  std::string songPagePath;    // song page, no leading slash, followed by the number
  std::string songUrlPath;     // streamed address: "https://" + host + this + number
};
