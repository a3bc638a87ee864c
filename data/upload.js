// The upload page: sends each chosen file to the PC in slices ("/r", see the README's "Resuming
// uploads"), one file after the other, goes on from what the PC holds after a break, shows each
// file's progress, and lists the files the PC stored from its JSON replies. It never reads a whole
// file into memory: each slice is a File.slice handed to the request.
(function () {
  'use strict';

  var TEXTS = {
    zh: {
      title: '上传文件到电脑',
      pick: '选择文件',
      hint: '可以一次选择多个文件，每个文件单独上传',
      sending: '上传进度',
      stored: '已保存到电脑的文件',
      waiting: '等待上传',
      progress: '正在上传 {0}%',
      done: '上传完成',
      sendText: '发送文字',
      textPlace: '输入要发送到电脑的文字',
      textSent: '文字已发送到电脑',
      textTooLong: '文字太长：最多 64 KB',
      textFailed: '发送失败，请重试',
      offline: '等待网络连接…',
      noReply: '上传失败：电脑没有回应',
      refused: '上传失败：电脑没有保存这个文件',
      open: '打开',
      del: '删除',
      deleting: '正在删除…',
      deleteFailed: '删除失败，请重试',
      errors: {
        disk_full: '上传失败：电脑的磁盘已满',
        incomplete: '上传失败：文件没有完整送达',
        interrupted: '上传失败：传输中断',
        cannot_store: '上传失败：电脑无法保存这个文件',
        write_failed: '上传失败：电脑写入文件出错',
        bad_form: '上传失败：上传的数据格式有误',
        gave_up: '上传失败：长时间无法连接到电脑'
      }
    },
    en: {
      title: 'Send files to the PC',
      pick: 'Choose files',
      hint: 'Pick one or more files; each is sent on its own',
      sending: 'Sending',
      stored: 'Stored on the PC',
      waiting: 'Waiting',
      progress: 'Sending {0}%',
      done: 'Sent',
      sendText: 'Send text',
      textPlace: 'Type a text to send to the PC',
      textSent: 'The text was sent to the PC',
      textTooLong: 'The text is too long: at most 64 KB',
      textFailed: 'Could not send the text, try again',
      offline: 'Waiting for the connection…',
      noReply: 'Upload failed: the PC did not reply',
      refused: 'Upload failed: the PC did not store this file',
      open: 'Open',
      del: 'Delete',
      deleting: 'Deleting…',
      deleteFailed: 'Could not delete, try again',
      errors: {
        disk_full: "Upload failed: the PC's disk is full",
        incomplete: 'Upload failed: the file did not arrive whole',
        interrupted: 'Upload failed: the transfer was interrupted',
        cannot_store: 'Upload failed: the PC could not store this file',
        write_failed: 'Upload failed: the PC could not write this file',
        bad_form: "Upload failed: the upload's form data was malformed",
        gave_up: 'Upload failed: the PC could not be reached for a long time'
      }
    }
  };

  function preferredLanguage() {
    var langs = navigator.languages && navigator.languages.length ? navigator.languages : [navigator.language || ''];
    for (var i = 0; i < langs.length; i++) {
      var l = String(langs[i]).toLowerCase();
      if (l.indexOf('zh') === 0) return 'zh';
      if (l.indexOf('en') === 0) return 'en';
    }
    return 'en';  // every other language reads English
  }

  var lang = preferredLanguage();
  var T = TEXTS[lang];
  document.documentElement.lang = lang === 'en' ? 'en' : 'zh-CN';
  document.title = 'Marlix ' + T.title;
  Array.prototype.forEach.call(document.querySelectorAll('[data-text]'), function (el) {
    el.textContent = T[el.getAttribute('data-text')];
  });

  Array.prototype.forEach.call(document.querySelectorAll('[data-place]'), function (el) {
    el.placeholder = T[el.getAttribute('data-place')];
  });

  function text(key, arg) {
    return T[key].replace('{0}', arg);
  }

  function el(tag, className, content) {
    var e = document.createElement(tag);
    if (className) e.className = className;
    if (content !== undefined) e.textContent = content;
    return e;
  }

  function formatSize(n) {
    n = Number(n);
    if (!isFinite(n)) return '';
    var units = ['B', 'KB', 'MB', 'GB', 'TB'];
    var i = 0;
    while (n >= 1024 && i < units.length - 1) {
      n /= 1024;
      i++;
    }
    return (i === 0 ? n : n.toFixed(n < 10 ? 1 : 0)) + ' ' + units[i];
  }

  // Every request of the upload direction goes through here: it carries the page's own "k" (the
  // upload secret of the address the phone opened) when the page has one.
  var secret = (function () {
    var m = /[?&]k=([^&#]*)/.exec(location.search);
    return m ? decodeURIComponent(m[1]) : '';
  })();
  function api(path) {
    if (!secret || /[?&]k=/.test(path)) return path;
    return path + (path.indexOf('?') < 0 ? '?' : '&') + 'k=' + encodeURIComponent(secret);
  }

  // The path of an address from the reply. The page was reached through a host that works for this
  // phone, so the stored file is opened and deleted through the same one.
  function pathOf(address, name) {
    var m = /^https?:\/\/[^\/]*(\/.*)$/.exec(String(address || ''));
    if (m) return m[1];
    return '/tmp/' + encodeURIComponent(name);
  }

  var sendingSection = document.getElementById('sending-section');
  var sendingList = document.getElementById('sending');
  var storedSection = document.getElementById('stored-section');
  var storedList = document.getElementById('stored');
  var input = document.getElementById('files');
  var pick = document.getElementById('pick');
  var queue = [];
  var busy = false;

  function addStored(file) {
    storedSection.hidden = false;
    var li = el('li', 'stored-file');
    var link = el('a', 'open name', file.name);
    link.href = api(pathOf(file.url, file.name));
    link.target = '_blank';
    link.rel = 'noopener';
    li.appendChild(link);
    li.appendChild(el('span', 'size', formatSize(file.size)));
    var del = el('button', 'delete', T.del);
    del.type = 'button';
    del.addEventListener('click', function () {
      del.disabled = true;
      del.textContent = T.deleting;
      var xhr = new XMLHttpRequest();
      xhr.open('DELETE', api(pathOf(file.delete_url, file.name)));
      xhr.onload = function () {
        var ok = false;
        try {
          ok = xhr.status === 200 && JSON.parse(xhr.responseText).success === true;
        } catch (e) {
          ok = false;
        }
        if (ok) {
          storedList.removeChild(li);
          if (!storedList.firstChild) storedSection.hidden = true;
        } else {
          xhr.onerror();
        }
      };
      xhr.onerror = function () {
        del.disabled = false;
        del.textContent = T.del;
        li.setAttribute('title', T.deleteFailed);
        alert(T.deleteFailed);
      };
      xhr.send();
    });
    li.appendChild(del);
    storedList.appendChild(li);
  }

  function addSending(file) {
    sendingSection.hidden = false;
    var li = el('li', 'sending-file waiting');
    li.appendChild(el('span', 'name', file.name));
    var state = el('span', 'state', T.waiting);
    li.appendChild(state);
    var bar = el('span', 'bar');
    var fill = el('span');
    bar.appendChild(fill);
    li.appendChild(bar);
    sendingList.appendChild(li);
    return {
      li: li,
      set: function (cls, message, percent) {
        li.className = 'sending-file ' + cls;
        state.textContent = message;
        if (percent !== undefined) fill.style.width = percent + '%';
      }
    };
  }

  var SLICE = 8 * 1024 * 1024;     // bytes per request: what a break can cost at most
  var STALL_MS = 30000;            // a request that moves no byte for this long is given up and retried
  var RETRY_FOR_MS = 15 * 60000;   // how long the page keeps trying to reach the PC
  var MAX_PAUSE_MS = 30000;

  function parse(xhr) {
    try {
      return JSON.parse(xhr.responseText);
    } catch (e) {
      return null;
    }
  }

  // One request of the upload: calls back with (status, reply) once it ends, status 0 when the
  // connection failed or stalled. onSent(bytes) follows the body as it goes out.
  function request(method, path, body, onSent, done) {
    var xhr = new XMLHttpRequest();
    var ended = false;
    var watch = null;
    function end(status, reply) {
      if (ended) return;
      ended = true;
      clearTimeout(watch);
      done(status, reply);
    }
    function stalled() {
      xhr.abort();
      end(0, null);
    }
    function alive() {
      clearTimeout(watch);
      watch = setTimeout(stalled, STALL_MS);
    }
    xhr.open(method, api(path));
    xhr.upload.onprogress = function (e) {
      alive();
      if (onSent) onSent(e.loaded);
    };
    xhr.onprogress = alive;
    xhr.onload = function () {
      end(xhr.status, parse(xhr));
    };
    xhr.onerror = function () {
      end(0, null);
    };
    xhr.onabort = xhr.onerror;
    alive();
    xhr.send(body);
  }

  // Sends one file in slices. The upload is known to the PC by the file's name, size and modification
  // time, so the same file chosen again after a reload resumes as well.
  function sendFile(file, row, finished) {
    var size = file.size;
    var id = null;
    var offset = 0;
    var failures = 0;
    var firstFailure = 0;

    function percent(n) {
      return size ? Math.floor((n / size) * 100) : 100;
    }
    function show(n) {
      var p = percent(n);
      row.set('sending', text('progress', p), p);
    }
    // The connection failed: try again after a pause that grows, for RETRY_FOR_MS.
    function retry() {
      if (!failures) firstFailure = Date.now();
      failures++;
      if (Date.now() - firstFailure > RETRY_FOR_MS) {
        finished('failed', T.errors.gave_up);
        return;
      }
      row.set('sending offline', T.offline, percent(offset));
      setTimeout(begin, Math.min(1000 * Math.pow(2, failures - 1), MAX_PAUSE_MS));
    }
    function refused(reply) {
      var why = reply && typeof reply.error === 'string' && T.errors.hasOwnProperty(reply.error) ? T.errors[reply.error] : null;
      finished('failed', why || (reply ? T.refused : T.noReply));
    }
    function stored(reply) {
      reply.files.forEach(function (f) {
        if (!f.error) addStored(f);
      });
      finished('done', T.done);
    }
    // Asks the PC how much of the file it holds (starting the upload when it holds none).
    function begin() {
      var q = '/r?name=' + encodeURIComponent(file.name) + '&size=' + size + '&mtime=' + Math.floor(Number(file.lastModified) || 0);
      request('POST', q, null, null, function (status, reply) {
        if (status === 200 && reply && typeof reply.id === 'string' && typeof reply.offset === 'number') {
          id = reply.id;
          offset = reply.offset;
          next();
        } else if (status === 0 || status === 429) {
          retry();  // 429: the PC holds as many unfinished uploads as it takes; one will end
        } else {
          refused(reply);
        }
      });
    }
    function next() {
      var end = Math.min(offset + SLICE, size);
      var sentBefore = offset;
      show(offset);
      request('PUT', '/r?id=' + id + '&offset=' + offset, file.slice(offset, end), function (n) {
        show(sentBefore + n);
      }, function (status, reply) {
        if (status === 0) {
          retry();
          return;
        }
        failures = 0;
        if (status === 200 && reply && reply.files && reply.files.length) {
          stored(reply);
        } else if ((status === 200 || status === 409) && reply && typeof reply.offset === 'number') {
          offset = reply.offset;  // what the PC holds, whether this slice arrived whole or not
          next();
        } else if (status === 404) {
          begin();  // the PC no longer knows the upload (it was restarted or the upload expired)
        } else {
          refused(reply);
        }
      });
    }
    begin();
  }

  function sendNext() {
    if (busy || !queue.length) return;
    busy = true;
    var job = queue.shift();
    sendFile(job.file, job.row, function (cls, message) {
      job.row.set(cls, message, 100);
      busy = false;
      sendNext();
    });
  }

  function enqueue(fileList) {
    for (var i = 0; i < fileList.length; i++) {
      queue.push({ file: fileList[i], row: addSending(fileList[i]) });
    }
    sendNext();
  }

  // A text to the PC: at most 64 KiB of UTF-8, as the PC accepts.
  var textBox = document.getElementById('text');
  var textButton = document.getElementById('send-text');
  var textState = document.getElementById('text-state');
  textButton.addEventListener('click', function () {
    var value = textBox.value;
    if (!value) return;
    function said(cls, message) {
      textState.className = 'text-state ' + cls;
      textState.textContent = message;
      textButton.disabled = false;
    }
    if (new Blob([value]).size > 65536) {
      said('failed', T.textTooLong);
      return;
    }
    textButton.disabled = true;
    var xhr = new XMLHttpRequest();
    xhr.open('POST', api('/x'));
    xhr.setRequestHeader('Content-Type', 'text/plain;charset=utf-8');
    xhr.onload = function () {
      var reply = parse(xhr);
      if (xhr.status === 200 && reply && reply.success === true) {
        said('done', T.textSent);
        textBox.value = '';
      } else {
        said('failed', reply && reply.error === 'text_too_long' ? T.textTooLong : T.textFailed);
      }
    };
    xhr.onerror = function () {
      said('failed', T.textFailed);
    };
    xhr.send(value);
  });

  input.addEventListener('change', function () {
    enqueue(input.files);
    input.value = '';
  });

  // On a desktop browser, files may also be dropped onto the pick area.
  ['dragenter', 'dragover'].forEach(function (type) {
    pick.addEventListener(type, function (e) {
      e.preventDefault();
      pick.classList.add('over');
    });
  });
  ['dragleave', 'drop'].forEach(function (type) {
    pick.addEventListener(type, function () {
      pick.classList.remove('over');
    });
  });
  pick.addEventListener('drop', function (e) {
    e.preventDefault();
    if (e.dataTransfer && e.dataTransfer.files.length) enqueue(e.dataTransfer.files);
  });
})();
