// A plot of the code-density test's DNL and INL against the code, through cairo.
#pragma once
#include <string>
#include <vector>

#include "analysis/linearity.h"

// DNL and INL against the code, one line for each converter of each result, in the format
// ("png", "svg" or "pdf") as bytes. false when cairo could not draw it.
bool linearity_plot(const std::vector<const capture_linearity*>& results, const std::string& title,
                    const std::string& format, std::string& bytes);
