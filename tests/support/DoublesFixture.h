// A suite that runs the component's own module with the doubles of the
// outside components (the error log component, the trace settings component
// and the viewer) loaded once for all its tests; each test sets what the
// doubles answer through `settings`.
#pragma once
#include "ComponentFixture.h"
#include "doubles/DoublesHarness.h"

class DoublesFixture : public ComponentFixture {
 protected:
  static void SetUpTestSuite() {
    ComponentFixture::SetUpTestSuite();
    doubles = new DoublesHarness(DOUBLES_MODULE);
  }
  static void TearDownTestSuite() {
    delete doubles;
    doubles = nullptr;
    ComponentFixture::TearDownTestSuite();
  }

  static inline DoublesHarness *doubles = nullptr;
  DoublesSettings settings = {};
};
