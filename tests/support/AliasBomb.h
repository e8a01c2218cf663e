#pragma once

// The "billion laughs" shape in YAML: nine levels of anchors, each a list of
// ten aliases of the one before, a few hundred bytes that stand for 10^9
// values, then a plan's steps. Line n + 1 defines level n.

#include <string>

inline std::string yamlAliasBomb() {
    std::string text = "a0: &a0 [x, x, x, x, x, x, x, x, x, x]\n";
    for (int i = 1; i <= 9; ++i) {
        const std::string previous = "*a" + std::to_string(i - 1);
        text += "a" + std::to_string(i) + ": &a" + std::to_string(i) + " [" + previous;
        for (int j = 1; j < 10; ++j) {
            text += ", " + previous;
        }
        text += "]\n";
    }
    return text + "steps: [{request: {address: \"5\"}}]\n";
}
