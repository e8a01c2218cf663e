#pragma once

#include "AccessLevel.h"

// Mix-in for widgets gated by a user role: the widget may be used when the
// present user's level is at least as privileged as the required one.
class Accessable {
public:
    Accessable() = default;
    virtual ~Accessable() = default;

    // Signed comparison: a smaller level is a more privileged role.
    bool isAccessible() const { return requiredLevel >= currentLevel; }

    AccessLevel::Types accessLevel() const { return AccessLevel::Types(requiredLevel); }
    // Stores the required level only; the widget is not told.
    void setAccessLevel(int level) { requiredLevel = level; }

    AccessLevel::Types currentAccessLevel() const { return AccessLevel::Types(currentLevel); }
    // Always tells the widget, even when the level does not change.
    void setCurrentLevel(const AccessLevel::Types& level);

protected:
    virtual void accessLevelChanged(const AccessLevel::Types& oldLevel,
                                    const AccessLevel::Types& newLevel);

    int requiredLevel = AccessLevel::OPERATOR;
    int currentLevel = AccessLevel::OPERATOR;
};
