// Root of the objects that lists carry beside their lines.
#pragma once

class TObject {
  public:
    TObject() = default;
    TObject(const TObject&) = default;
    TObject& operator=(const TObject&) = default;
    virtual ~TObject() = default;
};
