#pragma once

class CHub;

class CSpoke {
 public:
  void Attach(CHub& hub);
};
