// The held events of a change that may not stand.
#include "model/maincontext.h"

#include <utility>

MainContext::HeldEvents::HeldEvents(MainContext& main) : m_main(main), m_outer(main.m_heldEvents) {
  main.m_heldEvents = this;
}

MainContext::HeldEvents::~HeldEvents() {
  if (!m_active) return;
  try {
    Post();
  } catch (...) {
    // Launches never fail their caller; neither does a late post.
  }
}

void MainContext::HeldEvents::Hold(KXQApplicationEventImpl* event,
                                   _com_ptr_t<IKXQApplicationEvent> reference,
                                   IKXQObject* datasheet, int32_t status) {
  m_events.push_back({std::move(reference), event, IKXQObjectPtr(datasheet), status});
}

void MainContext::HeldEvents::Release() {
  if (!m_active) return;
  m_active = false;
  m_main.m_heldEvents = m_outer;
}

void MainContext::HeldEvents::Post() {
  Release();
  std::vector<Held> events;
  events.swap(m_events);
  for (const Held& held : events) m_main.PostEvent(held.event, held.datasheet, held.status);
}

void MainContext::HeldEvents::Drop() {
  Release();
  m_events.clear();
}
