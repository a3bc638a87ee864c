// The upload page: sends each chosen file to "/u" in its own multipart/form-data request, one after
// the other, shows each file's progress, and lists the files the PC stored from its JSON replies.
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
      answering: '等待电脑回应…',
      done: '上传完成',
      noReply: '上传失败：电脑没有回应',
      closed: '上传失败：连接已断开',
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
        bad_form: '上传失败：上传的数据格式有误'
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
      answering: 'Waiting for the PC…',
      done: 'Sent',
      noReply: 'Upload failed: the PC did not reply',
      closed: 'Upload failed: the connection was closed',
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
        bad_form: "Upload failed: the upload's form data was malformed"
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
    link.href = pathOf(file.url, file.name);
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
      xhr.open('DELETE', pathOf(file.delete_url, file.name));
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

  function sendNext() {
    if (busy || !queue.length) return;
    busy = true;
    var job = queue.shift();
    var row = job.row;
    var allSent = false;
    var form = new FormData();
    form.append('file', job.file, job.file.name);
    var xhr = new XMLHttpRequest();
    xhr.open('POST', '/u');
    xhr.upload.onprogress = function (e) {
      if (!e.lengthComputable) return;
      var p = Math.floor((e.loaded / e.total) * 100);
      row.set('sending', text('progress', p), p);
    };
    xhr.upload.onload = function () {
      allSent = true;
      row.set('sending', T.answering, 100);
    };
    function finish(cls, message, percent) {
      row.set(cls, message, percent);
      busy = false;
      sendNext();
    }
    xhr.onload = function () {
      var reply = null;
      try {
        reply = JSON.parse(xhr.responseText);
      } catch (e) {
        reply = null;
      }
      var files = reply && reply.files;
      if (xhr.status !== 200 || !files || !files.length) {
        // The PC says why it did not store the file; the reason is shown in the page's language.
        var why = reply && typeof reply.error === 'string' && T.errors.hasOwnProperty(reply.error) ? T.errors[reply.error] : null;
        finish('failed', why || (xhr.responseText ? T.refused : T.noReply), 100);
        return;
      }
      files.forEach(addStored);
      finish('done', T.done, 100);
    };
    xhr.onerror = function () {
      finish('failed', allSent ? T.noReply : T.closed);
    };
    xhr.onabort = xhr.onerror;
    xhr.send(form);
  }

  function enqueue(fileList) {
    for (var i = 0; i < fileList.length; i++) {
      queue.push({ file: fileList[i], row: addSending(fileList[i]) });
    }
    sendNext();
  }

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
