// The first line of the text `jbbtool dump` (and `dump --salvage`) writes,
// by which `jbbgen --input` knows that it reads a dump: a dump without the
// journal control area (%app-area) comes from a file whose control record
// could not be read, and a rebuild from it says which fields it made up.
#pragma once

constexpr char kDumpHeadLine[] = "# jbbtool dump: entries in key order, for jbbgen --input";
