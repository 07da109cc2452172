#pragma once

// Random text generators. Holds no state of its own; the job base derives from it.
class TRandomUtils {
public:
    virtual ~TRandomUtils() = default;
};
