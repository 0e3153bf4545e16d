// brevix-form.js: sends a form to the Brevix BX gateway in the background and shows the outcome
// on the page. Add beside a form whose action is the gateway:
//
//   <p data-brevix-status></p>                  (inside the form: where the outcome appears)
//   <script src="brevix-form.js" defer></script>
//
// Every form whose action ends in "brevix.cgi" (or that carries data-brevix) is posted with
// fetch, uploads included, asking for a JSON answer. The outcome appears as text in the form's
// [data-brevix-status] element (one is added after the form when there is none), whose class
// becomes brevix-status-sent, -missing, -refused, -failed or -error: the reference number when
// the mail went, the missing fields marked (aria-invalid="true", class "brevix-missing"), or the
// error. Without scripts the form stays a normal post answered with the gateway's pages. A page
// on another site than the gateway needs its origin in the gateway's Allowed_Origins, or the
// browser keeps the answer from it and the page shows a failure.
(function () {
  'use strict';

  var texts = {
    sending: 'Sending…',
    sent: 'Thank you! Your message has been sent.',
    reference: ' Your reference number is ',
    missing: 'Please fill in the marked fields.',
    refused: 'The form was not sent: ',
    failed: 'The message could not be sent: ',
    unreachable: 'The form could not be sent. Please try again later.',
  };

  function statusElement(form) {
    var element = form.querySelector('[data-brevix-status]');
    if (!element) {
      element = document.createElement('p');
      element.setAttribute('data-brevix-status', '');
      form.parentNode.insertBefore(element, form.nextSibling);
    }
    element.setAttribute('role', 'status');
    element.setAttribute('aria-live', 'polite');
    return element;
  }

  // Text only: every value in an answer may come from a visitor or a mail server.
  function show(form, outcome, text) {
    var element = statusElement(form);
    element.className = 'brevix-status-' + outcome;
    element.setAttribute('data-brevix-outcome', outcome);
    element.textContent = text;
  }

  function clearMarks(form) {
    var marked = form.querySelectorAll('.brevix-missing');
    for (var i = 0; i < marked.length; i++) {
      marked[i].classList.remove('brevix-missing');
      marked[i].removeAttribute('aria-invalid');
    }
  }

  function markMissing(form, names) {
    var first = null;
    for (var i = 0; i < names.length; i++) {
      var field = form.elements.namedItem(String(names[i]));
      if (!field) continue;
      if (field.length !== undefined && !field.tagName) field = field[0];  // a group of inputs
      field.classList.add('brevix-missing');
      field.setAttribute('aria-invalid', 'true');
      if (!first) first = field;
    }
    if (first && first.focus) first.focus();
  }

  function answered(form, answer) {
    answer = answer || {};
    if (answer.status === 'sent') {
      form.reset();
      var number = answer.refnum === null || answer.refnum === undefined ? '' : String(answer.refnum);
      show(form, 'sent', texts.sent + (number ? texts.reference + number + '.' : ''));
      var element = statusElement(form);
      element.setAttribute('data-brevix-refnum', number);
    } else if (answer.status === 'missing') {
      markMissing(form, Array.isArray(answer.missing) ? answer.missing : []);
      show(form, 'missing', texts.missing);
    } else if (answer.status === 'refused') {
      show(form, 'refused', texts.refused + String(answer.error || ''));
    } else if (answer.status === 'failed') {
      show(form, 'failed', texts.failed + String(answer.error || ''));
    } else {
      show(form, 'error', texts.unreachable);
    }
  }

  function send(event) {
    var form = event.currentTarget;
    if (!window.fetch || !window.FormData) return;  // an old browser posts the form as ever
    event.preventDefault();
    clearMarks(form);
    show(form, 'sending', texts.sending);
    var buttons = form.querySelectorAll('button, input[type=submit]');
    for (var i = 0; i < buttons.length; i++) buttons[i].disabled = true;
    var done = function () {
      for (var j = 0; j < buttons.length; j++) buttons[j].disabled = false;
    };
    // The attribute, not form.action: a field named "action" would stand in its place.
    var address = new URL(form.getAttribute('action') || '', document.baseURI).href;
    fetch(address, {
      method: 'POST',
      body: new FormData(form),
      headers: { Accept: 'application/json' },
      credentials: 'omit',
    })
      .then(function (response) {
        return response.json();
      })
      .then(function (answer) {
        answered(form, answer);
      }, function () {
        // No answer, or one the browser keeps from this page (an origin not allowed).
        show(form, 'error', texts.unreachable);
      })
      .then(done, done);
  }

  function attach() {
    var forms = document.querySelectorAll('form');
    for (var i = 0; i < forms.length; i++) {
      var form = forms[i];
      var action = form.getAttribute('action') || '';
      if (form.hasAttribute('data-brevix') || /brevix\.cgi(\?.*)?$/i.test(action)) {
        form.addEventListener('submit', send);
      }
    }
  }

  if (document.readyState === 'loading') {
    document.addEventListener('DOMContentLoaded', attach);
  } else {
    attach();
  }
})();
