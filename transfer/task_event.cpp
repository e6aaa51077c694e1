#include "transfer/task_event.h"

_TaskParam RecordOf(const TaskEvent& event) {
  _TaskParam record;
  record.key = event.key;
  record.text1 = event.url;
  record.text2 = event.folder;
  record.text3 = event.fileName;
  record.text4 = event.message;
  record.text5 = event.stateName;
  record.state = event.state;
  record.number1 = event.size;
  record.number2 = event.done;
  record.number3 = event.speed;
  return record;
}
