#include "Accessable.h"

void Accessable::setCurrentLevel(const AccessLevel::Types& level) {
    const AccessLevel::Types oldLevel = AccessLevel::Types(currentLevel);
    currentLevel = level;
    accessLevelChanged(oldLevel, level);
}

void Accessable::accessLevelChanged(const AccessLevel::Types&, const AccessLevel::Types&) {}
